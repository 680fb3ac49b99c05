#include "ShareDropArea.h"

#include "host/ExtensionContext.h"

#include <QMimeData>

ShareDropArea::ShareDropArea(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemAcceptsDrops);
}

void ShareDropArea::setModel(ShareComposeModel *model)
{
    if (m_model != model) {
        m_model = model;
        Q_EMIT modelChanged();
    }
}

void ShareDropArea::dragEnterEvent(QDragEnterEvent *event)
{
    if (!m_model || !m_model->canAddItems() || !event->mimeData() ||
        !ExtensionContext::mimeDataHoldsItems(*event->mimeData(), true)) {
        event->ignore();
        return;
    }
    // A copy, always: a file manager would delete the files it moved.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    setContainsDrag(true);
}

void ShareDropArea::dragMoveEvent(QDragMoveEvent *event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ShareDropArea::dragLeaveEvent(QDragLeaveEvent *)
{
    setContainsDrag(false);
}

void ShareDropArea::dropEvent(QDropEvent *event)
{
    setContainsDrag(false);
    if (!m_model || !m_model->canAddItems()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    try {
        m_model->addItems(ExtensionContext::itemFromMimeData(*event->mimeData()));
    } catch (const CommandLineError &error) {
        m_model->setErrorMessage(error.message());
    }
}

void ShareDropArea::setContainsDrag(bool containsDrag)
{
    if (m_containsDrag != containsDrag) {
        m_containsDrag = containsDrag;
        Q_EMIT containsDragChanged();
    }
}
