#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The sheet's small line symbols, drawn in one colour so they follow the palette: "doc",
// "doc.text", "doc.richtext", "doc.zipper", "photo", "film", "waveform", "chevron.right",
// "checkmark" and "checkmark.circle.fill". An unknown name draws "doc".
class SymbolIcon : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    // Thicker strokes, as a semibold symbol.
    Q_PROPERTY(bool bold READ isBold WRITE setBold NOTIFY boldChanged)

public:
    explicit SymbolIcon(QQuickItem *parent = nullptr);

    const QString &name() const { return m_name; }
    void setName(const QString &name);
    const QColor &color() const { return m_color; }
    void setColor(const QColor &color);
    bool isBold() const { return m_bold; }
    void setBold(bool bold);

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void nameChanged();
    void colorChanged();
    void boldChanged();

private:
    QString m_name = QStringLiteral("doc");
    QColor m_color = Qt::black;
    bool m_bold = false;
};
