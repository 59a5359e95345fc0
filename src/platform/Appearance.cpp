#include "platform/Appearance.h"

#include "platform/PlatformProfile.h"

#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusServiceWatcher>
#include <QtGui/QGuiApplication>
#include <QtGui/QPalette>

namespace platform {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kColorSchemeKey = QStringLiteral("color-scheme");
const QString kContrastKey = QStringLiteral("contrast");
// The portal answers at once or not at all; a desktop without one must not slow start-up.
constexpr int kPortalTimeoutMs = 1000;

QDBusConnection busConnection(const QString& name)
{
    return name.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(name);
}

// Unwraps the variants the portal's two methods answer with (Read wraps the value twice).
std::optional<unsigned> unsignedFromReply(QVariant v)
{
    for (int depth = 0; depth < 4; ++depth) {
        if (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>()) {
            v = v.value<QDBusVariant>().variant();
            continue;
        }
        if (v.userType() == qMetaTypeId<QDBusArgument>()) {
            const QDBusArgument argument = v.value<QDBusArgument>();
            if (argument.currentType() != QDBusArgument::VariantType)
                return std::nullopt;
            v = qdbus_cast<QDBusVariant>(argument).variant();
            continue;
        }
        break;
    }
    bool ok = false;
    const uint value = v.toUInt(&ok);
    if (!ok || v.userType() == QMetaType::QString)
        return std::nullopt;
    return value;
}

std::optional<unsigned> readSetting(const QDBusConnection& bus, const QString& key, bool* answered)
{
    for (const QString& method : {QStringLiteral("ReadOne"), QStringLiteral("Read")}) {
        QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, method);
        call << kAppearanceNamespace << key;
        const QDBusMessage reply = bus.call(call, QDBus::Block, kPortalTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            *answered = true;
            return unsignedFromReply(reply.arguments().constFirst());
        }
        // An old portal lacks ReadOne; anything else means there is no portal to ask.
        if (reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
            return std::nullopt;
    }
    return std::nullopt;
}

bool paletteIsDark()
{
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    const QColor text = QGuiApplication::palette().color(QPalette::WindowText);
    return window.lightness() < text.lightness();
}

} // namespace

AppearanceSource& AppearanceSource::shared()
{
    static AppearanceSource* source = new AppearanceSource;
    return *source;
}

AppearanceSource::AppearanceSource() = default;

void AppearanceSource::ensureAsked()
{
    if (!m_asked)
        refresh();
}

void AppearanceSource::refresh()
{
    m_asked = true;
    m_portalAnswered = false;
    m_colorScheme.reset();
    m_contrast.reset();
    const QDBusConnection bus = busConnection(m_busName);
    if (bus.isConnected()) {
        bool answered = false;
        m_colorScheme = readSetting(bus, kColorSchemeKey, &answered);
        if (answered) {
            m_contrast = readSetting(bus, kContrastKey, &answered);
            m_portalAnswered = true;
        }
    }
    connectToPortal();
}

void AppearanceSource::connectToPortal()
{
    if (m_connected && m_connectedBusName == m_busName)
        return;
    disconnectFromPortal();
    QDBusConnection bus = busConnection(m_busName);
    if (!bus.isConnected())
        return;
    // Followed even when the portal did not answer yet: it may start later.
    m_connected = bus.connect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"), this,
                              SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
    m_connectedBusName = m_busName;
    // A portal that comes later announces no change of its settings: they are read when it
    // appears.
    m_portalWatcher = new QDBusServiceWatcher(kPortalService, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_portalWatcher, &QDBusServiceWatcher::serviceRegistered, this, &AppearanceSource::portalAppeared);
}

void AppearanceSource::portalAppeared()
{
    const std::optional<unsigned> scheme = m_colorScheme, contrast = m_contrast;
    const bool answered = m_portalAnswered;
    refresh();
    if (m_colorScheme != scheme || m_contrast != contrast || m_portalAnswered != answered)
        Q_EMIT appearanceChanged();
}

void AppearanceSource::disconnectFromPortal()
{
    delete m_portalWatcher;
    if (!m_connected)
        return;
    QDBusConnection bus = busConnection(m_connectedBusName);
    if (bus.isConnected())
        bus.disconnect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"), this,
                       SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
    m_connected = false;
}

void AppearanceSource::portalSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value)
{
    if (nameSpace != kAppearanceNamespace)
        return;
    const std::optional<unsigned> number = unsignedFromReply(value.variant());
    if (key == kColorSchemeKey)
        m_colorScheme = number;
    else if (key == kContrastKey)
        m_contrast = number;
    else
        return;
    m_asked = true;
    m_portalAnswered = true;
    Q_EMIT appearanceChanged();
}

bool AppearanceSource::isDark()
{
    if (m_testDark)
        return *m_testDark;
    ensureAsked();
    if (m_colorScheme == 1u)
        return true;
    if (m_colorScheme == 2u)
        return false;
    // No preference, or no portal: the palette in use tells.
    return paletteIsDark();
}

bool AppearanceSource::prefersDark()
{
    if (m_testDark)
        return *m_testDark;
    ensureAsked();
    return m_colorScheme == 1u;
}

bool AppearanceSource::increasesContrast()
{
    if (m_testContrast)
        return *m_testContrast;
    ensureAsked();
    return m_contrast == 1u;
}

bool AppearanceSource::reducesTransparency() const
{
    return m_testTransparency ? *m_testTransparency : profile::reportsReducedTransparency;
}

bool AppearanceSource::invertsColors() const
{
    return m_testInverted ? *m_testInverted : profile::reportsInvertedColors;
}

bool AppearanceSource::portalAnswered()
{
    ensureAsked();
    return m_portalAnswered;
}

void AppearanceSource::setBusConnectionNameForTesting(const QString& name)
{
    disconnectFromPortal();
    m_busName = name;
    m_asked = false;
}

void AppearanceSource::setDarkForTesting(std::optional<bool> dark)
{
    m_testDark = dark;
    Q_EMIT appearanceChanged();
}

void AppearanceSource::setIncreasesContrastForTesting(std::optional<bool> on)
{
    m_testContrast = on;
    Q_EMIT appearanceChanged();
}

void AppearanceSource::setReducesTransparencyForTesting(std::optional<bool> on)
{
    m_testTransparency = on;
    Q_EMIT appearanceChanged();
}

void AppearanceSource::setInvertsColorsForTesting(std::optional<bool> on)
{
    m_testInverted = on;
    Q_EMIT appearanceChanged();
}

} // namespace platform
