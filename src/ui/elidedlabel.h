#pragma once
// A one-line label that keeps its narrow place: a text wider than the label
// is drawn with its detail (what follows the first ':') shortened in the
// middle, so the caption before it stays whole. text() and what assistive
// technologies read stay whole; the owner puts the whole text in the
// tooltip as well. UI thread only.

#include <QLabel>

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

    // What the label draws at its present width.
    [[nodiscard]] QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
