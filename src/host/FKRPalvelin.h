#pragma once
// The operator's main window. It stays thin: the settings file, the database connection and
// the start/stop logic are plain objects it owns; the window shows them and routes the
// operator's actions to them.
#include "Asetukset.h"
#include "DatabaseConnection.h"
#include "EventLogView.h"
#include "IniFile.h"
#include "ServiceController.h"
#include "StartRetry.h"
#include "log/EventLog.h"

#include <QWidget>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace krp {

class RadioGroup;
class RemoteService;

class TfrmKRPalvelin : public QWidget {
    Q_OBJECT
public:
    // `asetukset`: the settings read at start. Their directory holds asetukset.ini, which the
    // window writes back; a relative "sqlite:" path of the database field is taken from there
    // too. FormCreate runs here: the settings are shown in the controls.
    explicit TfrmKRPalvelin(const Asetukset& asetukset, QWidget* parent = nullptr);
    ~TfrmKRPalvelin() override;  // FormDestroy

    // Controls, named as their objectName.
    QPushButton* butKaynnista;
    QPushButton* butPysayta;
    QLabel* Label1;
    QComboBox* cbxTietokanta;
    QLabel* labPortti;
    QLineEdit* edPortti;
    QPushButton* butTallennaAsetukset;
    RadioGroup* rbgTietokannanTyyppi;
    QLabel* labYhteyksiaO;
    QLabel* labKairanetYhteyksia;
    EventLogView* memYhteydet;        // event log
    QPlainTextEdit* memYhteysnakyma;  // connection view

    // Set from the settings at window creation; never written back. The method module takes the
    // same value from the settings read at start (its ServiceContext).
    bool sisaiseen_selvitykseen_tuoterivien_nimet = false;

    // Settings file: the settings read at start into the controls, the controls back to the file.
    void LataaAsetukset();
    void TallennaAsetukset();  // throws IniFileError naming the file

    // Caption: "Routala mobiilipalvelu - <value>", or "Routala mobiilipalvelu" for an empty one.
    void SetYritys(const QString& value);
    const QString& Yritys() const { return FYritys; }

    // Connection counter and view. The client registry calls PaivitaYhteysnakyma with the
    // view's lines (one per client) and the number of "Kairanet" clients.
    void SetKairanetYhteyksia(int value);
    int Kairanet_yhteyksia() const { return FKairanet_yhteyksia; }
    void PaivitaYhteysnakyma(const QStringList& lines, int kairanetYhteyksia);
    // Stop empties the registry through this hook and rebuilds the view; without one the
    // view is emptied and the counter set to 0.
    void setOnRegistryReset(std::function<void()> reset) { onRegistryReset_ = std::move(reset); }

    // The server container's service (attached after the window is created, before it is shown).
    void setRemoteService(RemoteService* service) { controller_.setRemoteService(service); }
    RemoteService& remoteService() { return controller_.remoteService(); }

    DatabaseConnection& FDYhteysPaaruutu() { return database_; }
    db::Query& FDKysely() { return database_.kysely(); }
    ServiceController& controller() { return controller_; }
    // The automatic start's retries while the database does not open.
    StartRetry& startRetry() { return startRetry_; }

    // Handlers, as the operator's actions and the window's events run them. Errors that escape
    // an action are shown in a message box by the action's caller (see guarded()).
    void FormShow();   // automatic start: retried while the database does not open
    void FormClose();  // saves the settings
    void butKaynnistaClick();
    void butPysaytaClick();
    void butTallennaAsetuksetClick();
    // Enables the controls by the service state. Runs each time the event loop has nothing
    // left to do (before it waits), and after each operator action.
    void ApplicationEvents1Idle();

    // Runs an action; an error that escapes it is shown in a message box titled with the
    // window's caption, and the program goes on.
    void guarded(const std::function<void()>& action);

    // Shows the log lines that arrived since the last showing (a timer does it shortly after
    // the first of them arrives).
    void flushLogView();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormCreate();
    void createControls();
    void layoutMemos();
    void onLogLines();

    const Asetukset asetukset_;
    QString FYritys;
    std::unique_ptr<IniFile> Ini_;
    int FKairanet_yhteyksia = 0;

    DatabaseConnection database_;
    ServiceController controller_;
    StartRetry startRetry_;
    std::function<void()> onRegistryReset_;

    QTimer logFlushTimer_;
    QMetaObject::Connection idleConnection_;
};

// The single window instance while it exists.
extern TfrmKRPalvelin* frmKRPalvelin;

}  // namespace krp
