#include "library/model/PMLibraryItem.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

#include <QtCore/QUuid>
#include <QtGui/QIcon>

PMLibraryItem::~PMLibraryItem() = default;

platform::Value PMLibraryItem::itemValue()
{
    return platform::Value(itemObject().shared_from_this());
}

platform::Value PMLibraryItem::nonProxySelf()
{
    return itemValue();
}

QIcon PMLibraryItem::icon()
{
    return {};
}

PMLibraryItem* PMItem(const platform::Value& value)
{
    platform::Object* o = value.objectPointer();
    if (!o)
        return nullptr;
    switch (o->objectKind()) {
    case kPMLibraryContainerObjectKind:
        return static_cast<PMLibraryContainer*>(static_cast<platform::Dictionary*>(o));
    case kPMMovieRecordObjectKind:
        return static_cast<PMMovieRepresentationPrototype*>(o);
    default:
        return nullptr;
    }
}

PMLibraryContainer* PMContainer(const platform::Value& value)
{
    platform::Object* o = value.isDictionary() ? value.objectPointer() : nullptr;
    return o && o->objectKind() == kPMLibraryContainerObjectKind ? static_cast<PMLibraryContainer*>(static_cast<platform::Dictionary*>(o)) : nullptr;
}

std::shared_ptr<PMLibraryContainer> PMContainerPtr(const platform::Value& value)
{
    PMLibraryContainer* container = PMContainer(value);
    return container ? std::shared_ptr<PMLibraryContainer>(value.object(), container) : nullptr;
}

PMMovieRepresentationPrototype* PMMovie(const platform::Value& value)
{
    platform::Object* o = value.type() == platform::Value::Type::Object ? value.objectPointer() : nullptr;
    return o && o->objectKind() == kPMMovieRecordObjectKind ? static_cast<PMMovieRepresentationPrototype*>(o) : nullptr;
}

std::shared_ptr<PMMovieRepresentationPrototype> PMMoviePtr(const platform::Value& value)
{
    PMMovieRepresentationPrototype* movie = PMMovie(value);
    return movie ? std::shared_ptr<PMMovieRepresentationPrototype>(value.object(), movie) : nullptr;
}

QString availableUniqueLibraryID()
{
    for (;;) {
        const QString candidate = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        if (mainController().itemWithUniqueLibraryID(candidate).isNull())
            return candidate;
    }
}
