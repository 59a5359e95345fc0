#include "library/model/PMLibraryItem.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

#include <QtCore/QUuid>
#include <typeinfo>
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
    // The two kinds that fill the library come without the cost of a cross-cast, which
    // searches and sorts of whole libraries would otherwise pay for every item.
    const std::type_info& type = typeid(*o);
    if (type == typeid(PMMovieRepresentationOriginal))
        return static_cast<PMMovieRepresentationOriginal*>(o);
    if (type == typeid(PMLibraryContainer))
        return static_cast<PMLibraryContainer*>(o);
    return dynamic_cast<PMLibraryItem*>(o);
}

PMLibraryItemPtr PMItemPtr(const platform::Value& value)
{
    return value.isObject() ? std::dynamic_pointer_cast<PMLibraryItem>(value.object()) : nullptr;
}

PMLibraryContainer* PMContainer(const platform::Value& value)
{
    return value.isDictionary() ? dynamic_cast<PMLibraryContainer*>(value.objectPointer()) : nullptr;
}

std::shared_ptr<PMLibraryContainer> PMContainerPtr(const platform::Value& value)
{
    return value.isDictionary() ? std::dynamic_pointer_cast<PMLibraryContainer>(value.object()) : nullptr;
}

PMMovieRepresentationPrototype* PMMovie(const platform::Value& value)
{
    if (value.type() != platform::Value::Type::Object)
        return nullptr;
    platform::Object* o = value.objectPointer();
    if (o && typeid(*o) == typeid(PMMovieRepresentationOriginal))
        return static_cast<PMMovieRepresentationOriginal*>(o);
    return dynamic_cast<PMMovieRepresentationPrototype*>(o);
}

std::shared_ptr<PMMovieRepresentationPrototype> PMMoviePtr(const platform::Value& value)
{
    return value.type() == platform::Value::Type::Object ? std::dynamic_pointer_cast<PMMovieRepresentationPrototype>(value.object()) : nullptr;
}

QString availableUniqueLibraryID()
{
    for (;;) {
        const QString candidate = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        if (mainController().itemWithUniqueLibraryID(candidate).isNull())
            return candidate;
    }
}
