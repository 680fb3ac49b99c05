#pragma once

#include "ShareComposeModel.h"
#include "passkey/SheetSecurityKeyPresenter.h"
#include "window/DisplayServer.h"
#include "window/WindowActivation.h"

#include <QObject>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSize>

#include <memory>

// The share sheet of one share request: owns the model and the window that shows it. Completing
// the request (sent, or canceled) closes the window and emits finished().
class ShareViewController : public QObject
{
    Q_OBJECT

public:
    enum class ColorScheme { Light, Dark };

    static constexpr QSize preferredContentSize{560, 620};

    explicit ShareViewController(QObject *parent = nullptr);
    ~ShareViewController() override;

    // Takes the sheet's model, gives it the security-key prompt over this sheet's window, and
    // builds the window over it (not shown yet).
    void viewDidLoad(std::unique_ptr<ShareComposeModel> model);
    void show();

    ShareComposeModel *model() const { return m_model.get(); }
    SheetSecurityKeyPresenter *presenter() { return &m_presenter; }
    QQuickWindow *window() const { return m_window; }
    QQmlApplicationEngine &engine() { return m_engine; }

    // The desktop's preference, from the settings portal when it runs; light otherwise.
    static ColorScheme desktopColorScheme();
    // The scheme of the window built next: light keeps the desktop's palette, dark replaces it
    // with the sheet's own.
    void setColorScheme(ColorScheme scheme) { m_colorScheme = scheme; }
    // How the window built next carries its title (the window system's frame by default).
    void setWindowFrame(DisplayServer::WindowFrame frame) { m_windowFrame = frame; }
    // The activation token of the program that started the sheet, for the window shown next.
    void setActivation(const WindowActivation &activation) { m_activation = activation; }

Q_SIGNALS:
    void finished();

private:
    void requestCompleted();

    std::unique_ptr<ShareComposeModel> m_model;
    SheetSecurityKeyPresenter m_presenter;
    ColorScheme m_colorScheme = ColorScheme::Light;
    DisplayServer::WindowFrame m_windowFrame = DisplayServer::WindowFrame::System;
    WindowActivation m_activation;
    QQmlApplicationEngine m_engine;
    QPointer<QQuickWindow> m_window;
};
