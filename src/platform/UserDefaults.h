// User defaults: the application's settings, keyed by the program's English phrases
// ("/" and ":" included). A registered domain gives the defaults; the persistent domain
// holds what the user changed and is stored as a binary property list under
// $XDG_CONFIG_HOME/Pellis/, written atomically shortly after a change and at quit.
// Safe from any thread. Changes post "NSUserDefaultsDidChangeNotification" on the
// default notification centre and call the observers of the changed key.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <functional>
#include <memory>

namespace platform {

class UserDefaults {
public:
    // The application's defaults, stored in the standard file.
    static UserDefaults& standard();
    // "$XDG_CONFIG_HOME/Pellis/com.tolvane.Pellis.plist"
    static QString standardFilePath();

    // Defaults stored in the given file (tests; an empty path stores nothing).
    explicit UserDefaults(const QString& filePath);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    QString filePath() const;

    // The persistent value, else the registered one, else null. Arrays and dictionaries
    // come as copies: changing them changes nothing until they are set again.
    Value objectForKey(const QString& key) const;
    // Storing null removes the key, so that the registered default shows through again.
    void setObject(const Value& value, const QString& key);
    void removeObjectForKey(const QString& key);
    // Replaces the registered values of the keys given (the registered domain is not saved).
    void registerDefaults(const DictionaryPtr& defaults);

    // Typed getters: numbers and numeric strings convert; booleans also from "YES"/"true".
    bool boolForKey(const QString& key) const;
    std::int64_t integerForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    // A string, or a number's text; empty otherwise.
    QString stringForKey(const QString& key) const;
    ArrayPtr arrayForKey(const QString& key) const;
    DictionaryPtr dictionaryForKey(const QString& key) const;
    void setBool(bool value, const QString& key) { setObject(Value(value), key); }
    void setInteger(std::int64_t value, const QString& key) { setObject(Value(qint64(value)), key); }
    void setDouble(double value, const QString& key) { setObject(Value(value), key); }

    // True when the persistent domain holds the key (not just the registered domain).
    bool hasPersistentValueForKey(const QString& key) const;
    // A copy of the persistent domain.
    DictionaryPtr persistentDomain() const;

    // Writes pending changes now; answers the empty string or the error's text.
    QString synchronize();

    // Observers of one key (an empty key observes all); called on the changing thread.
    using Observer = std::function<void(const QString& key)>;
    std::uint64_t addObserver(const QString& key, Observer observer);
    void removeObserver(std::uint64_t id);

    struct State;
private:
    void changed(const QString& key);
    std::shared_ptr<State> m_state;
};

} // namespace platform
