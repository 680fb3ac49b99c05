// The peer of the sheet's start-up: the smallest Qt Quick window with a title, a toolbar-like
// bar and a text, built as the sheet is, that quits after its first frame.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QUrl>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    QQmlApplicationEngine engine;
    engine.loadData(R"(
import QtQuick
import QtQuick.Controls
ApplicationWindow {
    width: 560; height: 620; visible: true; title: "Minimal"
    header: ToolBar { Label { anchors.centerIn: parent; text: "Minimal" } }
    Label { anchors.centerIn: parent; text: "Hello" }
}
)");
    const auto roots = engine.rootObjects();
    auto *window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    if (!window)
        return 1;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, &app, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    return app.exec();
}
