// A label that shows a value, such as a folder path, in a box of fixed size:
// it wraps the text at word boundaries (inside a word too long for a line),
// shows only the lines that fit whole, ends a cut text with "…" and shows
// the whole text as its tool tip. The text itself stays whole.
#pragma once

#include <QLabel>
#include <QStringList>

namespace folvane {

class ValueLabel : public QLabel {
public:
    explicit ValueLabel(QWidget* parent = nullptr);

    // The lines as they are drawn at the label's present size and font.
    QStringList ShownLines() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace folvane
