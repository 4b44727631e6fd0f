#include "app/dialogs/dialogbase.h"

#include "core/errors.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TCreationDialog::TCreationDialog(const QString &caption, int width, int height, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(caption);
    setModal(true);
    resize(width, height);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(255, 251, 240));
    setPalette(p);
    setAutoFillBackground(true);

    auto *column = new QVBoxLayout(this);
    fields_ = new QFormLayout;
    column->addLayout(fields_);
    column->addStretch(1);
    buttonRow_ = new QHBoxLayout;
    column->addLayout(buttonRow_);

    Button1 = new QPushButton(QStringLiteral("确定"), this);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
}

QLineEdit *TCreationDialog::addField(const QString &label, const QString &text, QLabel **labelOut)
{
    auto *edit = new QLineEdit(text, this);
    auto *caption = new QLabel(label, this);
    fields_->addRow(caption, edit);
    if (labelOut)
        *labelOut = caption;
    return edit;
}

QPushButton *TCreationDialog::addButtons()
{
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    connect(cancel, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
    buttonRow_->addStretch(1);
    buttonRow_->addWidget(Button1);
    buttonRow_->addWidget(cancel);
    buttonRow_->addStretch(1);
    return cancel;
}

void TCreationDialog::Button2Click()
{
    done(ResultCancel);
}

void TCreationDialog::reject()
{
    done(ResultCancel);
}
