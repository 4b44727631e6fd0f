#pragma once
// A combo box that assistive technologies know by its label. Qt names a
// combo box on Linux by the text it shows, so a screen reader would read
// "115200" where the user needs "波特率"; this one is named by its
// accessible name (or its label's text) and shows its text as its value.
// UI thread only.

#include <QComboBox>

class LabelledComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit LabelledComboBox(QWidget *parent);
};
