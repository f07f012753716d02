#include "FKRPalvelin.h"

#include "MessageBox.h"
#include "RadioGroup.h"
#include "RemoteService.h"
#include "log/DailyLogFile.h"
#include "log/EventLog.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace krp {

TfrmKRPalvelin* frmKRPalvelin = nullptr;

namespace {

const QString kAlkuotsikko = QStringLiteral("Routala palvelin");
const QString kOtsikko = QStringLiteral("Routala mobiilipalvelu");
constexpr int kLeveys = 668;
constexpr int kKorkeus = 458;
constexpr int kMuistionKorkeus = 174;
constexpr int kLokinNayttovali = 50;  // ms from a line's arrival to its showing, at most

// Installation's database endpoints offered in the drop-down ("host port").
const QStringList kTietokannat = {
    QStringLiteral("localhost 1313"),
    QStringLiteral("localhost 1315"),
    QStringLiteral("palvelin 1313"),
    QStringLiteral("palvelin 1315"),
};

QString withSeparator(const QString& dir)
{
    if (dir.isEmpty())
        return QDir::currentPath() + QLatin1Char('/');
    return dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\')) ? dir : dir + QLatin1Char('/');
}

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(left, top, width, height);
}

void placeLabel(QLabel* label, int left, int top)
{
    label->adjustSize();
    label->move(left, top);
}

}  // namespace

TfrmKRPalvelin::TfrmKRPalvelin(const Asetukset& asetukset, QWidget* parent)
    : QWidget(parent), asetukset_(asetukset), database_(withSeparator(asetukset.hakemisto)), controller_(database_),
      startRetry_(
          [this] {
              controller_.start(cbxTietokanta->currentText(), rbgTietokannanTyyppi->itemIndex(), edPortti->text(),
                                StartBy::Automatic);
          },
          [this] { guarded([this] { startRetry_.tryNow(); }); })
{
    setObjectName(QStringLiteral("frmKRPalvelin"));
    setWindowTitle(kAlkuotsikko);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    resize(kLeveys, kKorkeus);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kLeveys / 2, kKorkeus / 2));
    }
    createControls();

    database_.onYritys = [this](const QString& yritys) { SetYritys(yritys); };
    database_.onAfterDisconnect = [this] { SetYritys(QString()); };
    controller_.onStopped = [this] {
        if (onRegistryReset_)
            onRegistryReset_();
        else
            PaivitaYhteysnakyma({}, 0);
    };

    // The event log: lines are shown in batches, at most every kLokinNayttovali ms, so that a
    // busy server redraws the view a few times a second and not for every line.
    connect(EventLog::instance(), &EventLog::linesAppended, this, &TfrmKRPalvelin::onLogLines);
    logFlushTimer_.setSingleShot(true);
    logFlushTimer_.setInterval(kLokinNayttovali);
    connect(&logFlushTimer_, &QTimer::timeout, this, &TfrmKRPalvelin::flushLogView);

    // ApplicationEvents1: the idle notification is the moment the event loop runs out of work.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        idleConnection_ =
            connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TfrmKRPalvelin::ApplicationEvents1Idle);

    frmKRPalvelin = this;
    Ini_ = std::make_unique<IniFile>(asetustiedosto(asetukset.hakemisto));
    FormCreate();
    ApplicationEvents1Idle();
}

TfrmKRPalvelin::~TfrmKRPalvelin()
{
    // FormDestroy: the registry belongs to its owner; the window lets go of everything it shows.
    disconnect(idleConnection_);
    if (frmKRPalvelin == this)
        frmKRPalvelin = nullptr;
}

void TfrmKRPalvelin::createControls()
{
    butKaynnista = new QPushButton(QStringLiteral("Käynnistä"), this);
    butKaynnista->setObjectName(QStringLiteral("butKaynnista"));
    place(butKaynnista, 24, 8, 75, 25);

    butPysayta = new QPushButton(QStringLiteral("Pysäytä"), this);
    butPysayta->setObjectName(QStringLiteral("butPysayta"));
    place(butPysayta, 105, 8, 75, 25);

    Label1 = new QLabel(QStringLiteral("Tietokanta"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeLabel(Label1, 32, 41);

    cbxTietokanta = new QComboBox(this);
    cbxTietokanta->setObjectName(QStringLiteral("cbxTietokanta"));
    cbxTietokanta->setEditable(true);
    cbxTietokanta->setInsertPolicy(QComboBox::NoInsert);
    cbxTietokanta->addItems(kTietokannat);
    place(cbxTietokanta, 105, 39, 201, 21);

    labPortti = new QLabel(QStringLiteral("Portti"), this);
    labPortti->setObjectName(QStringLiteral("labPortti"));
    placeLabel(labPortti, 32, 69);

    edPortti = new QLineEdit(QStringLiteral("14002"), this);
    edPortti->setObjectName(QStringLiteral("edPortti"));
    place(edPortti, 105, 66, 57, 21);

    butTallennaAsetukset = new QPushButton(QStringLiteral("Tallenna asetukset"), this);
    butTallennaAsetukset->setObjectName(QStringLiteral("butTallennaAsetukset"));
    place(butTallennaAsetukset, 191, 64, 115, 25);

    rbgTietokannanTyyppi = new RadioGroup(QStringLiteral("Tietokannan tyyppi"),
                                          {QStringLiteral("solidDB 7"), QStringLiteral("solidDB 100")}, this);
    rbgTietokannanTyyppi->setObjectName(QStringLiteral("rbgTietokannanTyyppi"));
    place(rbgTietokannanTyyppi, 336, 8, 113, 90);
    rbgTietokannanTyyppi->setItemIndex(1);

    labYhteyksiaO = new QLabel(QStringLiteral("Kairanet yhteyksiä"), this);
    labYhteyksiaO->setObjectName(QStringLiteral("labYhteyksiaO"));
    placeLabel(labYhteyksiaO, 480, 27);

    labKairanetYhteyksia = new QLabel(QStringLiteral("0"), this);
    labKairanetYhteyksia->setObjectName(QStringLiteral("labKairanetYhteyksia"));
    placeLabel(labKairanetYhteyksia, 617, 27);

    // The log view shows the event log's own lines (it keeps no copy of them).
    memYhteydet = new EventLogView(*EventLog::instance(), this);
    memYhteydet->setObjectName(QStringLiteral("memYhteydet"));
    memYhteysnakyma = new QPlainTextEdit(this);
    memYhteysnakyma->setObjectName(QStringLiteral("memYhteysnakyma"));
    memYhteysnakyma->setReadOnly(true);  // the program writes it; the operator reads and copies
    memYhteysnakyma->setTabChangesFocus(true);
    memYhteysnakyma->setLineWrapMode(QPlainTextEdit::NoWrap);
    memYhteysnakyma->setMaximumBlockCount(0);  // one line per client, rebuilt as a whole
    layoutMemos();

    connect(butKaynnista, &QPushButton::clicked, this, [this] { guarded([this] { butKaynnistaClick(); }); });
    connect(butPysayta, &QPushButton::clicked, this, [this] { guarded([this] { butPysaytaClick(); }); });
    connect(butTallennaAsetukset, &QPushButton::clicked, this,
            [this] { guarded([this] { butTallennaAsetuksetClick(); }); });

    // Tab order: start, stop, database, port, log, type, save, connection view.
    QWidget* order[] = {butKaynnista,
                        butPysayta,
                        cbxTietokanta,
                        edPortti,
                        memYhteydet,
                        rbgTietokannanTyyppi->button(0),
                        rbgTietokannanTyyppi->button(1),
                        butTallennaAsetukset,
                        memYhteysnakyma};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TfrmKRPalvelin::layoutMemos()
{
    // Both docked to the bottom: the connection view at the very bottom, the log above it.
    const int w = width();
    const int h = height();
    place(memYhteysnakyma, 0, h - kMuistionKorkeus, w, kMuistionKorkeus);
    place(memYhteydet, 0, h - 2 * kMuistionKorkeus, w, kMuistionKorkeus);
}

void TfrmKRPalvelin::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutMemos();
}

void TfrmKRPalvelin::FormCreate()
{
    LataaAsetukset();
    SetKairanetYhteyksia(0);
}

void TfrmKRPalvelin::LataaAsetukset()
{
    const Asetukset& a = asetukset_;
    cbxTietokanta->setEditText(a.verkkonimi);
    edPortti->setText(a.portti);
    rbgTietokannanTyyppi->setItemIndex(rajaaTietokannanTyyppi(a.tietokannanTyyppi));
    sisaiseen_selvitykseen_tuoterivien_nimet = a.sisaisenSelvityksenErikoiskasittely;
    database_.setLimits(a.aikarajat);

    // The event log keeps the newest lines; the window shows what it keeps.
    EventLog* log = EventLog::instance();
    log->setLineLimit(a.lokinRivimaara);
    memYhteydet->showNewLines();
    if (a.lokihakemisto.isEmpty()) {
        log->setLogFile(nullptr);
    } else {
        const QString dir = QDir(QFileInfo(Ini_->fileName()).absolutePath()).absoluteFilePath(a.lokihakemisto);
        log->setLogFile(std::make_unique<DailyLogFile>(dir, a.lokinSailytyspaivat));
    }
}

void TfrmKRPalvelin::TallennaAsetukset()
{
    tallennaAsetukset(*Ini_, cbxTietokanta->currentText(), edPortti->text(), rbgTietokannanTyyppi->itemIndex());
}

void TfrmKRPalvelin::SetYritys(const QString& value)
{
    FYritys = value;
    setWindowTitle(value.isEmpty() ? kOtsikko : kOtsikko + QStringLiteral(" - ") + value);
}

void TfrmKRPalvelin::SetKairanetYhteyksia(int value)
{
    FKairanet_yhteyksia = value;
    labKairanetYhteyksia->setText(QString::number(value));
    labKairanetYhteyksia->adjustSize();
}

void TfrmKRPalvelin::PaivitaYhteysnakyma(const QStringList& lines, int kairanetYhteyksia)
{
    SetKairanetYhteyksia(kairanetYhteyksia);
    memYhteysnakyma->clear();
    if (!lines.isEmpty())
        memYhteysnakyma->setPlainText(lines.join(QLatin1Char('\n')));
}

void TfrmKRPalvelin::FormShow()
{
    if (ServiceController::kaynnistyykoAutomaattisesti(cbxTietokanta->currentText(), edPortti->text()))
        startRetry_.begin();
}

void TfrmKRPalvelin::FormClose()
{
    TallennaAsetukset();
}

void TfrmKRPalvelin::butKaynnistaClick()
{
    startRetry_.end();  // the operator's own start reports its failure in a message box
    try {
        controller_.start(cbxTietokanta->currentText(), rbgTietokannanTyyppi->itemIndex(), edPortti->text());
    } catch (const DatabaseConnectError& e) {
        showMessageBox(windowTitle(),
                       QStringLiteral("Valittuun tietokantaan ei saatu yhdistettyä. Palvelua ei voida\r\n"
                                      "käynnistää. Virhe:\r\n") +
                           QString::fromUtf8(e.what()),
                       MessageBoxIcon::Error);
    }
    ApplicationEvents1Idle();
}

void TfrmKRPalvelin::butPysaytaClick()
{
    startRetry_.end();
    controller_.stop();
    ApplicationEvents1Idle();
}

void TfrmKRPalvelin::butTallennaAsetuksetClick()
{
    TallennaAsetukset();
}

void TfrmKRPalvelin::ApplicationEvents1Idle()
{
    const bool started = controller_.isStarted();
    // Only real changes, so that the idle pass itself posts no new work.
    auto enable = [](QWidget* w, bool on) {
        if (w->isEnabled() != on)
            w->setEnabled(on);
    };
    enable(butKaynnista, !started);
    enable(edPortti, !started);
    enable(cbxTietokanta, !started);
    enable(rbgTietokannanTyyppi, !started);
    enable(butPysayta, started || startRetry_.isRetrying());
}

void TfrmKRPalvelin::guarded(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        showMessageBox(windowTitle(), QString::fromUtf8(e.what()), MessageBoxIcon::Error);
    } catch (...) {
        showMessageBox(windowTitle(), QStringLiteral("Tuntematon virhe."), MessageBoxIcon::Error);
    }
    ApplicationEvents1Idle();
}

void TfrmKRPalvelin::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The first showing (not a restore by the window system) may start the service.
    if (!event->spontaneous())
        QTimer::singleShot(0, this, [this] { guarded([this] { FormShow(); }); });
}

void TfrmKRPalvelin::closeEvent(QCloseEvent* event)
{
    // A settings file that cannot be written is reported; the window closes all the same, so
    // the operator is never kept from ending the program.
    startRetry_.end();
    guarded([this] { FormClose(); });
    event->accept();
}

void TfrmKRPalvelin::onLogLines()
{
    if (!logFlushTimer_.isActive())
        logFlushTimer_.start();
}

void TfrmKRPalvelin::flushLogView()
{
    logFlushTimer_.stop();
    memYhteydet->showNewLines();
}

}  // namespace krp
