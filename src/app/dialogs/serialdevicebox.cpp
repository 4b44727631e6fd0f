#include "app/dialogs/serialdevicebox.h"

#include "core/errors.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStyle>
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
    setMinimumContentsLength(34);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    refreshTimer_->setInterval(RefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, [this] { Guarded([this] { listDevices(); }); });
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) { putOpeningName(index); });
    // The tooltip describes a picked device, not a typed path.
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { setToolTip(QString()); });
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
        int widest = 0;
        const QFontMetrics metrics = view()->fontMetrics();
        for (const SerialDeviceInfo &info : devices) {
            const QString description = describe(info);
            addItem(description, info.stableName.isEmpty() ? info.path : info.stableName);
            widest = std::max(widest, metrics.horizontalAdvance(description));
        }
        // The list may be wider than the box: a description cut short
        // would hide the very adapter it names.
        view()->setMinimumWidth(widest + 2 * view()->frameWidth()
            + style()->pixelMetric(QStyle::PM_ScrollBarExtent)
            + 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 8);
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
    // A stable name is long and tells its adapter at its start.
    lineEdit()->setCursorPosition(0);
    setToolTip(itemText(index));
}
