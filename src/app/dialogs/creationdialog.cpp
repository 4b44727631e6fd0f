#include "app/dialogs/creationdialog.h"

#include "core/errors.h"
#include "ui/palette.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CreationDialog::CreationDialog(const QString &caption, int width, int height, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(caption);
    setModal(true);
    resize(width, height);
    paintBackground(this, Colours::Cream);

    auto *column = new QVBoxLayout(this);
    fields_ = new QFormLayout;
    column->addLayout(fields_);
    column->addStretch(1);
    buttonRow_ = new QHBoxLayout;
    column->addLayout(buttonRow_);

    okButton_ = new QPushButton(tr("确定"), this);
    okButton_->setObjectName(QStringLiteral("okButton"));
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, [this] { Guarded([this] { acceptInput(); }); });
}

QLineEdit *CreationDialog::addField(const QString &label, const QString &text, QLabel **labelOut)
{
    auto *edit = new QLineEdit(text, this);
    auto *caption = new QLabel(label, this);
    fields_->addRow(caption, edit);
    if (labelOut)
        *labelOut = caption;
    return edit;
}

QPushButton *CreationDialog::addButtons()
{
    auto *cancelling = new QPushButton(tr("取消"), this);
    connect(cancelling, &QPushButton::clicked, this, [this] { Guarded([this] { cancel(); }); });
    buttonRow_->addStretch(1);
    buttonRow_->addWidget(okButton_);
    buttonRow_->addWidget(cancelling);
    buttonRow_->addStretch(1);
    return cancelling;
}

void CreationDialog::cancel()
{
    done(Cancelled);
}

void CreationDialog::reject()
{
    done(Cancelled);
}
