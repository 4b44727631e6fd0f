#include "app/dialogs/serialdevicebox.h"

#include "core/errors.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>

namespace {

// Often enough that a device plugged in shows up while the user looks, and
// no more: each listing walks sysfs and /dev.
constexpr int RefreshMs = 1000;

} // namespace

SerialDeviceBox::SerialDeviceBox(SerialDeviceLister lister, QWidget *parent)
    : LabelledComboBox(parent)
    , lister_(std::move(lister))
    , refreshTimer_(new QTimer(this))
{
    setEditable(true);
    // What is typed is a path, never a new entry of the list, and is not
    // completed into a description.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setMinimumContentsLength(28);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    refreshTimer_->setInterval(RefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, [this] { Guarded([this] { listDevices(); }); });
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) { putOpeningName(index); });
}

QString SerialDeviceBox::device() const
{
    const QString typed = currentText().trimmed();
    // A description typed out in full still names its device.
    const int described = findText(typed);
    return described >= 0 ? itemData(described).toString() : typed;
}

QString SerialDeviceBox::describe(const SerialDeviceInfo &info)
{
    QStringList words;
    if (!info.vendor.isEmpty())
        words << info.vendor;
    if (!info.product.isEmpty())
        words << info.product;
    if (!info.vendorId.isEmpty() && !info.productId.isEmpty())
        words << QStringLiteral("(%1:%2)").arg(info.vendorId, info.productId);
    if (words.isEmpty())
        return info.path;
    return info.path + QStringLiteral("  ") + words.join(QLatin1Char(' '));
}

void SerialDeviceBox::showEvent(QShowEvent *event)
{
    QComboBox::showEvent(event);
    // Shown again within the second: the last listing is still fresh.
    if (!sinceListing_.isValid() || sinceListing_.hasExpired(RefreshMs))
        Guarded([this] { listDevices(); });
    if (currentText().isEmpty() && count() > 0)
        setCurrentIndex(0);
    refreshTimer_->start();
}

void SerialDeviceBox::hideEvent(QHideEvent *event)
{
    refreshTimer_->stop();
    QComboBox::hideEvent(event);
}

void SerialDeviceBox::listDevices()
{
    // The list must not change under the user's eyes while it is open; the
    // next tick after it closes brings it up to date.
    if (view()->isVisible())
        return;
    sinceListing_.start();
    showDevices(lister_());
}

void SerialDeviceBox::showDevices(const std::vector<SerialDeviceInfo> &devices)
{
    if (devices == shown_)
        return;
    QLineEdit *edit = lineEdit();
    const QString typed = edit->text();
    const int cursor = edit->cursorPosition();
    const int selectionStart = edit->selectionStart();
    const int selectionLength = edit->selectedText().size();
    {
        const QSignalBlocker quiet(this);
        clear();
        for (const SerialDeviceInfo &info : devices)
            addItem(describe(info), info.stableName.isEmpty() ? info.path : info.stableName);
        setCurrentIndex(findData(typed));
        setEditText(typed);
    }
    if (selectionStart >= 0)
        edit->setSelection(selectionStart, selectionLength);
    else
        edit->setCursorPosition(cursor);
    shown_ = devices;
}

void SerialDeviceBox::putOpeningName(int index)
{
    if (index < 0)
        return;
    setEditText(itemData(index).toString());
}
