// A small library built in the real main controller for the model tests.
#pragma once

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override { mainController().resetForTesting(); }
    void TearDown() override { mainController().resetForTesting(); }

    static PMMovieRepresentationOriginalPtr movie(const QString& name, long long duration = -1, double rating = 0)
    {
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/Movies/") + name + QStringLiteral(".mov"));
        m->userSettings()->setValue(QStringLiteral("Name"), name);
        if (duration >= 0)
            m->setDuration(duration);
        if (rating != 0)
            m->setRating(rating);
        return m;
    }
    static PMLibraryContainerPtr folder(const QString& name, std::initializer_list<platform::Value> children = {})
    {
        auto c = PMLibraryContainer::make({{QStringLiteral("Name"), name}});
        for (const platform::Value& child : children)
            c->rawChildren()->append(child);
        return c;
    }
    static QStringList names(const platform::ArrayPtr& items)
    {
        QStringList result;
        if (items)
            for (const platform::Value& v : *items)
                result << PMItem(v)->displayName();
        return result;
    }
    static void setDefault(const QString& key, const platform::Value& value) { platform::UserDefaults::standard().setObject(value, key); }
    // Puts the containers into the movies section of a fresh library and rebuilds the tables.
    static PMLibraryContainerPtr library(std::initializer_list<platform::Value> children)
    {
        PMLibraryContainerPtr movies = mainController().pellisSourceStorageSection();
        for (const platform::Value& child : children)
            movies->rawChildren()->append(child);
        mainController().invalidateLibraryDependencies();
        return movies;
    }
};
