#include "portdialog.h"
#include "format/logging.h"

#include "config/appconfig.h"
#include "config/portmap.h"
#include "modbus/seriallink.h"
#include "modbus/tcplink.h"
#include "widgets/twips.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPointer>
#include <QPushButton>

namespace vortan
{

namespace
{

const QString ItemPrefix = QStringLiteral("COM");

} // namespace

QString NoPermissionDetail(const QString &device)
{
    return QStringLiteral("Нет прав на устройство %1.\n"
                          "Чтобы работать с последовательными портами, пользователь должен "
                          "входить в группу dialout. Добавьте себя в неё командой\n"
                          "    sudo usermod -aG dialout $USER\n"
                          "и войдите в систему заново (выйдите из сеанса или перезагрузите "
                          "компьютер).")
        .arg(device);
}

PortDialog::PortDialog(SerialLink &link, quint8 &portNumber, AppConfig &config,
                       const PortMap &ports, QLabel *statusLine, QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      m_link(link), m_portNumber(portNumber), m_config(config), m_ports(ports),
      m_statusLine(statusLine)
{
    setObjectName(QStringLiteral("wndSetCOM"));
    setWindowTitle(QStringLiteral("Настройка порта"));
    setFixedSize(TwipsToPixels(4665), TwipsToPixels(2205));

    // Created in tab order: "ОК" first, so it has the focus when the dialog opens.
    m_ok = new QPushButton(QStringLiteral("ОК"), this);
    m_ok->setObjectName(QStringLiteral("OK"));
    m_ok->setGeometry(TwipsRect(2520, 1440, 1335, 375));

    m_cancel = new QPushButton(QStringLiteral("Отмена"), this);
    m_cancel->setObjectName(QStringLiteral("Отмена"));
    m_cancel->setGeometry(TwipsRect(480, 1440, 1335, 375));

    m_list = new QComboBox(this);
    m_list->setObjectName(QStringLiteral("cmbCOMList"));
    m_list->setEditable(true);
    m_list->setInsertPolicy(QComboBox::NoInsert);
    m_list->setGeometry(TwipsRect(2280, 600, 1575, 315));
    m_list->setEditText(QStringLiteral("Выберите порт"));

    m_label = new QLabel(QStringLiteral("Выберите порт:"), this);
    m_label->setObjectName(QStringLiteral("Label1"));
    m_label->setGeometry(TwipsRect(480, 600, 1575, 255));

    setTabOrder(m_ok, m_cancel);
    setTabOrder(m_cancel, m_list);

    connect(m_list, &QComboBox::activated, this, &PortDialog::pickItem);
    // Typing over the picked item withdraws the pick: what the field shows is what OK stores.
    connect(m_list, &QComboBox::editTextChanged, this, [this](const QString &text) {
        if (m_picked >= 0 && text != m_list->itemText(m_picked))
            m_picked = -1;
    });
    connect(m_ok, &QPushButton::clicked, this, &PortDialog::confirm);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_portConfirmed = false;
        reject();
    });
}

int PortDialog::portOfItem(const QString &itemText)
{
    if (!itemText.startsWith(ItemPrefix))
        return 0;
    bool ok = false;
    const int n = itemText.mid(ItemPrefix.size()).toInt(&ok, 10);
    return ok && n > 0 ? n : 0;
}

int PortDialog::selectedPort() const
{
    return m_picked >= 0 ? portOfItem(m_list->itemText(m_picked)) : 0;
}

void PortDialog::load()
{
    m_savedPortNumber = m_portNumber;
    if (m_link.isOpen())
        m_link.close();

    QPointer<PortDialog> alive(this);
    for (int n = PortMap::FirstListed; n <= PortMap::LastListed; ++n) {
        // A gateway is listed unprobed: a connect could take seconds, and the window must not
        // wait for it. Picking it shows soon enough whether it answers.
        const QString device = m_ports.device(n);
        if (NetworkAddress::isNetwork(device)) {
            m_list->addItem(ItemPrefix + QString::number(n));
            m_list->setItemData(m_list->count() - 1, device, Qt::ToolTipRole);
            continue;
        }
        m_link.selectPort(n);
        const OpenResult result = m_link.open();
        const bool opens = result == OpenResult::Ok;
        // Closed again before other events run: a tick in between must not send the controller's
        // poll to whatever device answers on a probed port.
        if (opens)
            m_link.close();
        QCoreApplication::processEvents();
        if (!alive)
            return;
        // A port refused for want of permission is listed too, so its tooltip can say why.
        if (opens || result == OpenResult::Forbidden) {
            m_list->addItem(ItemPrefix + QString::number(n));
            m_list->setItemData(m_list->count() - 1, opens ? device : NoPermissionDetail(device),
                                Qt::ToolTipRole);
        }
    }
    m_list->setCurrentIndex(-1);
    m_list->setEditText(QStringLiteral("Выберите порт"));
    // The prompt is wider than the field: show its beginning, not its end.
    m_list->lineEdit()->setCursorPosition(0);
    qCDebug(lcConfig) << "ports that open:" << m_list->count();

    const QString configured = ItemPrefix + QString::number(m_portNumber);
    for (int i = 0; i < m_list->count(); ++i) {
        if (m_list->itemText(i) == configured) {
            m_list->setCurrentIndex(i);
            pickItem(i);
            break;
        }
    }
    if (!m_link.isOpen()) {
        m_link.selectPort(m_portNumber);
        m_link.open();
    }
}

void PortDialog::pickItem(int index)
{
    if (index < 0 || index >= m_list->count())
        return;
    m_picked = index;
    if (m_link.isOpen())
        m_link.close();
    m_link.selectPort(portOfItem(m_list->itemText(index)));
    m_link.open();
}

void PortDialog::confirm()
{
    m_portConfirmed = true;
    m_portNumber = quint8(selectedPort());
    m_config.SaveConfig();
    accept();
}

void PortDialog::done(int result)
{
    if (!m_closing) {
        m_closing = true;
        if (m_link.isOpen())
            m_link.close();
        if (!m_portConfirmed)
            m_portNumber = m_savedPortNumber;
        m_link.selectPort(m_portNumber);
        if (m_link.open() != OpenResult::Ok && m_statusLine)
            m_statusLine->setText(QStringLiteral("Порт не выбран"));
    }
    QDialog::done(result);
}

} // namespace vortan
