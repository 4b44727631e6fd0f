#include "app/dialogs/newserialportdialog.h"

#include "app/dialogs/labelledcombobox.h"
#include "core/errors.h"
#include "ui/messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <optional>

namespace {

// The rates adapters and microcontrollers commonly use; any other whole
// number may be typed.
const QStringList StandardRates{"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
    "38400", "57600", "115200", "230400", "460800", "500000", "576000", "921600", "1000000", "1500000",
    "2000000", "3000000", "4000000"};

// A whole decimal number from low to high, or nothing.
std::optional<qint64> numberIn(const QString &text, qint64 low, qint64 high)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

// "波特率:" names its box "波特率".
QString nameOfCaption(QString caption)
{
    caption = caption.trimmed();
    if (caption.endsWith(u':') || caption.endsWith(u'：'))
        caption.chop(1);
    return caption.trimmed();
}

} // namespace

NewSerialPortDialog::NewSerialPortDialog(SerialDeviceLister lister, QWidget *parent)
    : CreationDialog(tr("创建串口"), 400, 300, parent)
{
    const SerialSetup defaults;

    deviceBox_ = new SerialDeviceBox(std::move(lister), this);
    deviceBox_->setObjectName(QStringLiteral("deviceBox"));
    addRow(tr("串口设备:"), deviceBox_);

    baudBox_ = addChoice(
        tr("波特率:"), StandardRates, int(StandardRates.indexOf(QString::number(defaults.baud))), Typed::Too);
    baudBox_->setObjectName(QStringLiteral("baudBox"));
    dataBitsBox_ = addChoice(tr("数据位:"), {"5", "6", "7", "8"}, defaults.dataBits - 5);
    dataBitsBox_->setObjectName(QStringLiteral("dataBitsBox"));
    // In the order of SerialParity.
    parityBox_ = addChoice(
        tr("校验位:"), {tr("无"), tr("奇"), tr("偶"), tr("标记"), tr("空格")}, int(defaults.parity));
    parityBox_->setObjectName(QStringLiteral("parityBox"));
    stopBitsBox_ = addChoice(tr("停止位:"), {"1", "2"}, defaults.stopBits - 1);
    stopBitsBox_->setObjectName(QStringLiteral("stopBitsBox"));
    // In the order of SerialFlow.
    flowBox_ = addChoice(
        tr("流控制:"), {tr("无"), QStringLiteral("RTS/CTS"), QStringLiteral("XON/XOFF")}, int(defaults.flow));
    flowBox_->setObjectName(QStringLiteral("flowBox"));

    auto *lines = new QWidget(this);
    auto *linesRow = new QHBoxLayout(lines);
    linesRow->setContentsMargins(0, 0, 0, 0);
    dtrSwitch_ = new QCheckBox(tr("DTR 置位"), lines);
    dtrSwitch_->setObjectName(QStringLiteral("dtrSwitch"));
    dtrSwitch_->setChecked(defaults.dtr);
    rtsSwitch_ = new QCheckBox(tr("RTS 置位"), lines);
    rtsSwitch_->setObjectName(QStringLiteral("rtsSwitch"));
    rtsSwitch_->setChecked(defaults.rts);
    linesRow->addWidget(dtrSwitch_);
    linesRow->addWidget(rtsSwitch_);
    linesRow->addStretch(1);
    auto *linesCaption = new QLabel(tr("控制线:"), this);
    linesCaption->setBuddy(dtrSwitch_);
    fields_->addRow(linesCaption, lines);

    // In the order of MessageFraming.
    framingBox_ = addChoice(tr("分包方式:"), {tr("按时间间隔"), tr("按分隔符")}, int(defaults.framing));
    framingBox_->setObjectName(QStringLiteral("framingBox"));
    gapEdit_ = new QLineEdit(QString::number(defaults.gapMs), this);
    gapEdit_->setObjectName(QStringLiteral("gapEdit"));
    addRow(tr("间隔(毫秒):"), gapEdit_);
    delimiterBox_ = addChoice(tr("分隔符:"), {"CR", "LF", "CRLF"}, 1, Typed::Too);
    delimiterBox_->setObjectName(QStringLiteral("delimiterBox"));
    delimiterBox_->setToolTip(tr("CR、LF、CRLF 或十六进制字节，如 0D 0A"));
    messageCapEdit_ = new QLineEdit(QString::number(defaults.messageCap), this);
    messageCapEdit_->setObjectName(QStringLiteral("messageCapEdit"));
    addRow(tr("最大包长(字节):"), messageCapEdit_);

    autoReconnectSwitch_ = new QCheckBox(tr("自动重连"), this);
    autoReconnectSwitch_->setObjectName(QStringLiteral("autoReconnectSwitch"));
    autoReconnectSwitch_->setChecked(defaults.autoReconnect);
    autoReconnectSwitch_->setToolTip(tr("设备拔出后重新插入时自动打开"));
    fields_->addRow(autoReconnectSwitch_);

    cancelButton_ = addButtons();
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));

    // The buttons were made before the boxes; the keyboard still walks the
    // form from the top down and ends on them.
    const QList<QWidget *> walk{deviceBox_, baudBox_, dataBitsBox_, parityBox_, stopBitsBox_, flowBox_,
        dtrSwitch_, rtsSwitch_, framingBox_, gapEdit_, delimiterBox_, messageCapEdit_, autoReconnectSwitch_,
        findChild<QPushButton *>(QStringLiteral("okButton")), cancelButton_};
    for (qsizetype i = 1; i < walk.size(); ++i)
        setTabOrder(walk[i - 1], walk[i]);

    connect(framingBox_, &QComboBox::currentIndexChanged, this, [this] { enableFramingInUse(); });
    enableFramingInUse();
}

void NewSerialPortDialog::addRow(const QString &label, QWidget *field)
{
    auto *caption = new QLabel(label, this);
    caption->setBuddy(field);
    field->setAccessibleName(nameOfCaption(label));
    fields_->addRow(caption, field);
}

QComboBox *NewSerialPortDialog::addChoice(
    const QString &label, const QStringList &items, int current, Typed typed)
{
    auto *box = new LabelledComboBox(this);
    if (typed == Typed::Too) {
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
    }
    box->addItems(items);
    box->setCurrentIndex(current);
    addRow(label, box);
    return box;
}

void NewSerialPortDialog::enableFramingInUse()
{
    const bool byGap = framingBox_->currentIndex() == int(MessageFraming::Gap);
    gapEdit_->setEnabled(byGap);
    delimiterBox_->setEnabled(!byGap);
}

void NewSerialPortDialog::refuse(QWidget *field, const QString &message)
{
    ShowMessage(message);
    field->setFocus();
    if (auto *edit = qobject_cast<QLineEdit *>(field))
        edit->selectAll();
    else if (auto *box = qobject_cast<QComboBox *>(field); box && box->lineEdit())
        box->lineEdit()->selectAll();
}

void NewSerialPortDialog::acceptInput()
{
    SerialSetup typed;
    typed.device = deviceBox_->device();
    if (typed.device.isEmpty())
        return refuse(deviceBox_, tr("请选择或输入串口设备"));
    const auto baud = numberIn(baudBox_->currentText(), 1, MaxSerialBaud);
    if (!baud)
        return refuse(baudBox_, tr("波特率须为 1 到 %1 之间的整数").arg(MaxSerialBaud));
    typed.baud = std::uint32_t(*baud);
    typed.dataBits = 5 + dataBitsBox_->currentIndex();
    typed.parity = SerialParity(parityBox_->currentIndex());
    typed.stopBits = 1 + stopBitsBox_->currentIndex();
    typed.flow = SerialFlow(flowBox_->currentIndex());
    typed.dtr = dtrSwitch_->isChecked();
    typed.rts = rtsSwitch_->isChecked();
    typed.framing = MessageFraming(framingBox_->currentIndex());
    // Only the way in use is read: a box the user cannot reach holds no error.
    if (typed.framing == MessageFraming::Gap) {
        const auto gap = numberIn(gapEdit_->text(), 0, MaxSerialGapMs);
        if (!gap)
            return refuse(gapEdit_, tr("间隔须为 0 到 %1 毫秒之间的整数").arg(MaxSerialGapMs));
        typed.gapMs = int(*gap);
    } else {
        // The box's one message covers every way a delimiter text can be wrong.
        const auto delimiter = serialDelimiterFromText(delimiterBox_->currentText(), nullptr);
        if (!delimiter)
            return refuse(delimiterBox_,
                tr("分隔符须为 CR、LF、CRLF 或 1 到 %1 个十六进制字节（如 0D 0A）")
                    .arg(MaxSerialDelimiterBytes));
        typed.delimiter = *delimiter;
    }
    const auto cap = numberIn(messageCapEdit_->text(), 1, MaxSerialMessageCap);
    if (!cap)
        return refuse(messageCapEdit_, tr("最大包长须为 1 到 %1 字节之间的整数").arg(MaxSerialMessageCap));
    typed.messageCap = int(*cap);
    typed.autoReconnect = autoReconnectSwitch_->isChecked();
    setup_ = typed;
    done(Created);
}
