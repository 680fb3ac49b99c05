#pragma once

#include "ShareComposeModel.h"

#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

// Where files, images and links dropped on the sheet are taken in: it hands what is dropped to
// the model, which adds it to the share, and says while a drop it would take is over it.
class ShareDropArea : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(ShareComposeModel *model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(bool containsDrag READ containsDrag NOTIFY containsDragChanged)

public:
    explicit ShareDropArea(QQuickItem *parent = nullptr);

    ShareComposeModel *model() const { return m_model; }
    void setModel(ShareComposeModel *model);
    bool containsDrag() const { return m_containsDrag; }

Q_SIGNALS:
    void modelChanged();
    void containsDragChanged();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void setContainsDrag(bool containsDrag);

    QPointer<ShareComposeModel> m_model;
    bool m_containsDrag = false;
};
