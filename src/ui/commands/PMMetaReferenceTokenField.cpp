#include "ui/commands/PMMetaReferenceTokenField.h"

#include "foundation/NSString+PMHelpManager.h"
#include "foundation/PMCSVParser.h"
#include "library/model/PMMainController.h"

#include <QtCore/QMimeData>
#include <QtCore/QSet>

namespace {

// The plain texts a pasteboard or drag holds (one here: Qt keeps one text per drag).
QStringList plainStrings(const QMimeData& pasteboard)
{
    QStringList strings;
    if (pasteboard.hasText())
        strings << pasteboard.text();
    return strings;
}

} // namespace

QString emptyTokenizingCharacterSet()
{
    static const QString empty;
    return empty;
}

// ---- Values -------------------------------------------------------------------------------

PMMetaReferenceAwareTokenField::PMMetaReferenceAwareTokenField(QWidget* parent) : QLineEdit(parent) {}

bool PMMetaReferenceAwareTokenField::writeRepresentedObjects(const QStringList& tokens, QMimeData& toPasteboard)
{
    const QString text = PMCSVStringWithFields(tokens, QString(), true);
    if (text.isEmpty())
        return false;
    toPasteboard.setText(text);
    return true;
}

QStringList PMMetaReferenceAwareTokenField::readFromPasteboard(const QMimeData& pasteboard, QWidget* controlView)
{
    QStringList fields;
    QSet<QString> seen;
    for (const QString& string : plainStrings(pasteboard))
        for (const QString& field : cachedCSVFields(string))
            if (!seen.contains(field)) {
                seen.insert(field);
                fields << field;
            }
    // One plain value pasted over a selection goes into the text being edited.
    auto* editor = qobject_cast<QLineEdit*>(controlView);
    if (fields.size() == 1 && editor && editor->hasFocus() && editor->hasSelectedText() && !firstMetaReferenceWithRange(fields.first())
        && cachedCSVFields(fields.first()).size() == 1) {
        editor->insert(fields.first());
        return {fields.first(), insertedTextMarker()};
    }
    return fields;
}

QStringList PMMetaReferenceAwareTokenField::shouldAddObjects(const QStringList& tokens)
{
    if (!tokens.isEmpty() && tokens.last().isEmpty())
        return {};
    return tokens;
}

QStringList PMMetaReferenceAwareTokenField::objectValue() const
{
    const QString value = text();
    return value.trimmed().isEmpty() ? QStringList() : cachedCSVFields(value);
}

void PMMetaReferenceAwareTokenField::setObjectValue(const QStringList& tokens)
{
    setText(PMCSVStringWithFields(tokens, QString(), true));
}

// ---- Text with references -------------------------------------------------------------

PMMetaReferenceTokenField::PMMetaReferenceTokenField(QWidget* parent) : PMMetaReferenceAwareTokenField(parent) {}

bool PMMetaReferenceTokenField::writeRepresentedObjects(const QStringList& tokens, QMimeData& toPasteboard)
{
    const QString text = tokens.join(QString());
    if (text.isEmpty())
        return false;
    toPasteboard.setText(text);
    return true;
}

QStringList PMMetaReferenceTokenField::readFromPasteboard(const QMimeData& pasteboard, QWidget*)
{
    return metaReferenceComponents(plainStrings(pasteboard).join(QString()));
}

QStringList PMMetaReferenceTokenField::objectValue() const
{
    return metaReferenceComponents(text());
}

void PMMetaReferenceTokenField::setObjectValue(const QStringList& tokens)
{
    setText(tokens.join(QString()));
}

// ---- The delegate ------------------------------------------------------------------------

namespace PMTokenFieldDelegate {

QString tokenFieldCellDisplayStringForRepresentedObject(const QString& object)
{
    return stringByMakingMetaReferencesReadableWithMetaPrefix(object, true);
}

QString tokenFieldDisplayStringForRepresentedObject(const QWidget* field, const QString& object)
{
    if (qobject_cast<const PMMetaReferenceTokenField*>(field))
        return stringByMakingMetaReferencesReadableWithMetaPrefix(object, false);
    if (qobject_cast<const PMMetaReferenceAwareTokenField*>(field))
        return stringByMakingMetaReferencesReadableWithMetaPrefix(object, true);
    return object;
}

bool tokenFieldWriteRepresentedObjects(const QWidget* field, const QStringList& objects, QMimeData& toPasteboard)
{
    if (qobject_cast<const PMMetaReferenceTokenField*>(field))
        return PMMetaReferenceTokenField::writeRepresentedObjects(objects, toPasteboard);
    if (qobject_cast<const PMMetaReferenceAwareTokenField*>(field))
        return PMMetaReferenceAwareTokenField::writeRepresentedObjects(objects, toPasteboard);
    return false;
}

QStringList tokenFieldReadFromPasteboard(QWidget* field, const QMimeData& pasteboard)
{
    if (qobject_cast<PMMetaReferenceTokenField*>(field))
        return PMMetaReferenceTokenField::readFromPasteboard(pasteboard, field);
    if (qobject_cast<PMMetaReferenceAwareTokenField*>(field))
        return PMMetaReferenceAwareTokenField::readFromPasteboard(pasteboard, field);
    // A plain field: each text split where the field ends tokens, trimmed.
    QStringList tokens;
    for (const QString& string : plainStrings(pasteboard)) {
        const QStringList parts = string.split(QLatin1Char(','));
        for (const QString& part : parts)
            if (!part.trimmed().isEmpty())
                tokens << part.trimmed();
    }
    return tokens;
}

QStringList tokenFieldShouldAddObjects(const QWidget* field, const QStringList& objects)
{
    if (qobject_cast<const PMMetaReferenceTokenField*>(field))
        return PMMetaReferenceTokenField::shouldAddObjects(objects);
    if (qobject_cast<const PMMetaReferenceAwareTokenField*>(field))
        return PMMetaReferenceAwareTokenField::shouldAddObjects(objects);
    return objects;
}

TokenStyle tokenFieldStyleForRepresentedObject(const QWidget* field, const QString& object)
{
    if (qobject_cast<const PMMetaReferenceTokenField*>(field))
        return firstMetaReferenceWithRange(object) ? TokenStyle::Token : TokenStyle::PlainText;
    return TokenStyle::Token;
}

QStringList tokenFieldCompletionsForSubstring(QWidget* field, const QString& substring, int* indexOfSelectedItem)
{
    if (qobject_cast<PMMetaReferenceAwareTokenField*>(field))
        return {};
    return PMMainController::mainController().controlCompletionsForPrefix(field, substring, indexOfSelectedItem);
}

} // namespace PMTokenFieldDelegate
