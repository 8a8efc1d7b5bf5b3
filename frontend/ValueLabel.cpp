#include "frontend/ValueLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QToolTip>

namespace folvane {

ValueLabel::ValueLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QStringList ValueLabel::ShownLines() const
{
    const QString shown = text();
    const QRect area = contentsRect();
    const QFontMetrics metrics(font());
    if (shown.isEmpty() || area.width() <= 0 || area.height() < metrics.height()) return {};
    const int fitting = 1 + (area.height() - metrics.height()) / metrics.lineSpacing();

    QTextLayout layout(shown, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    int lastStart = 0;
    bool cut = false;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        if (lines.size() == fitting) {
            cut = true;
            break;
        }
        lastStart = line.textStart();
        lines.append(shown.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    // The last line that fits takes as much of the rest as it can, and "…".
    if (cut) lines.back() = metrics.elidedText(shown.mid(lastStart), Qt::ElideRight, area.width());
    return lines;
}

bool ValueLabel::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        if (text().isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
        return true;
    }
    return QLabel::event(event);
}

void ValueLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = contentsRect();
    const int step = fontMetrics().lineSpacing();
    int top = area.top();
    for (const QString& line : ShownLines()) {
        style()->drawItemText(&painter, QRect(area.left(), top, area.width(), fontMetrics().height()),
                              Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, palette(), isEnabled(), line,
                              foregroundRole());
        top += step;
    }
}

}  // namespace folvane
