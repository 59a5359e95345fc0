// The desktop's appearance: dark or light, increased contrast, reduced transparency and
// inverted colours. Dark mode and contrast come from the desktop's appearance portal
// (org.freedesktop.portal.Settings, namespace "org.freedesktop.appearance") when it
// answers on the session bus, followed live through its change signal; without the
// portal, from the lightness of the application's palette. Main thread only.
#pragma once

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtDBus/QDBusVariant>

class QDBusServiceWatcher;

#include <optional>

namespace platform {

class AppearanceSource : public QObject {
    Q_OBJECT
public:
    static AppearanceSource& shared();

    bool isDark();
    bool increasesContrast();
    bool reducesTransparency() const;
    bool invertsColors() const;
    // The desktop asked for dark explicitly (the portal's "prefer dark", or a test).
    bool prefersDark();
    // Whether the portal answered the last time it was asked.
    bool portalAnswered();

    // Asks the portal again (on the bus connection given for tests, else the session bus).
    void refresh();

    // Tests: a named bus connection to ask instead of the session bus (empty: the session
    // bus again); fixed answers that win over the portal and the palette (nullopt: none).
    void setBusConnectionNameForTesting(const QString& name);
    void setDarkForTesting(std::optional<bool> dark);
    void setIncreasesContrastForTesting(std::optional<bool> on);
    void setReducesTransparencyForTesting(std::optional<bool> on);
    void setInvertsColorsForTesting(std::optional<bool> on);

Q_SIGNALS:
    // The appearance changed (the portal told, or a test set it).
    void appearanceChanged();

private Q_SLOTS:
    void portalSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);
    void portalAppeared();

private:
    AppearanceSource();
    void ensureAsked();
    void connectToPortal();
    void disconnectFromPortal();

    bool m_asked = false;
    bool m_portalAnswered = false;
    std::optional<unsigned> m_colorScheme; // 0 no preference, 1 dark, 2 light
    std::optional<unsigned> m_contrast;    // 0 normal, 1 higher
    QString m_busName;                     // empty: the session bus
    QString m_connectedBusName;
    bool m_connected = false;
    // Tells when the portal comes onto the bus (a desktop session may start it after us).
    QPointer<QDBusServiceWatcher> m_portalWatcher;
    std::optional<bool> m_testDark, m_testContrast, m_testTransparency, m_testInverted;
};

} // namespace platform
