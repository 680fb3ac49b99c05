#include "ShareViewController.h"

#include "Logging.h"
#include "passkey/SecurityKeyPasskeyPrompt.h"
#include "window/WindowActivation.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QGuiApplication>

#include <memory>

using namespace Qt::StringLiterals;

ShareViewController::ShareViewController(QObject *parent)
    : QObject(parent)
{}

// The engine, and with it the window, goes before the model the window shows.
ShareViewController::~ShareViewController() = default;

void ShareViewController::viewDidLoad(std::unique_ptr<ShareComposeModel> model)
{
    // The prompt shows over this sheet's window while both exist; without them the model gets
    // no prompt, and the step-up goes to the main application.
    QPointer<ShareViewController> controller(this);
    model->setPromptProvider([controller]() -> std::unique_ptr<SudoPasskeyPrompt> {
        if (!controller || !controller->m_window || !controller->m_window->isVisible())
            return nullptr;
        return std::make_unique<SecurityKeyPasskeyPrompt>(controller->presenter());
    });
    m_model = std::move(model);
    connect(m_model.get(), &ShareComposeModel::requestCompleted, this,
            &ShareViewController::requestCompleted);

    using Frame = DisplayServer::WindowFrame;
    m_engine.setInitialProperties({{u"model"_s, QVariant::fromValue<QObject *>(m_model.get())},
                                   {u"presenter"_s, QVariant::fromValue<QObject *>(&m_presenter)},
                                   {u"toolbarTitle"_s, m_windowFrame != Frame::ServerDecorated},
                                   {u"ownTitleBar"_s, m_windowFrame == Frame::Sheet}});
    m_engine.load(QUrl(m_colorScheme == ColorScheme::Dark
                           ? u"qrc:/qt/qml/Zelt/Share/views/DarkShareSheetWindow.qml"_s
                           : u"qrc:/qt/qml/Zelt/Share/views/ShareSheetWindow.qml"_s));
    const auto roots = m_engine.rootObjects();
    m_window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    if (!m_window) {
        qCCritical(lcShareExtension, "the share sheet's views did not load");
        return;
    }
    m_window->resize(preferredContentSize);
    // Images are flattened onto the colour of this sheet, which a dark sheet sets itself.
    m_model->setWindowBackground(m_window->property("windowColor").value<QColor>());
}

void ShareViewController::show()
{
    if (!m_window)
        return;
    if (QGuiApplication::platformName() == u"xcb")
        m_activation.nameLaunch(m_window);
    if (!m_activation.token().isEmpty()) {
        // Mapped once its first frame is up.
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(
            m_window, &QQuickWindow::frameSwapped, this,
            [this, connection] {
                disconnect(*connection);
                if (m_activation.activate(m_window))
                    qCDebug(lcShareExtension, "asked the compositor to activate the sheet");
            },
            Qt::QueuedConnection);
    }
    m_window->show();
}

void ShareViewController::requestCompleted()
{
    if (m_window)
        m_window->close();
    Q_EMIT finished();
}

ShareViewController::ColorScheme ShareViewController::desktopColorScheme()
{
    // org.freedesktop.appearance color-scheme: 1 prefers dark, 2 prefers light, 0 says nothing.
    // Asked only when the portal already runs, so that the sheet never waits for it to start.
    const auto service = u"org.freedesktop.portal.Desktop"_s;
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(service))
        return ColorScheme::Light;
    auto call = QDBusMessage::createMethodCall(service, u"/org/freedesktop/portal/desktop"_s,
                                               u"org.freedesktop.portal.Settings"_s, u"Read"_s);
    call << u"org.freedesktop.appearance"_s << u"color-scheme"_s;
    const QDBusReply<QDBusVariant> reply = bus.call(call, QDBus::Block, 500);
    if (!reply.isValid())
        return ColorScheme::Light;
    // The value comes wrapped in one more variant.
    QVariant value = reply.value().variant();
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value.toUInt() == 1 ? ColorScheme::Dark : ColorScheme::Light;
}
