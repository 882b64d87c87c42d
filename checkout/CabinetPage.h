#pragma once

#include "CabinetLine.h"
#include "CabinetRules.h"
#include "CabinetWalk.h"

#include <QWizardPage>

#include <map>
#include <memory>

class CheckoutWizard;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

// The 连接 page of a cabinet: the line's port and setting, the survey of the list's stations at that
// setting (and at every setting for those missing, on request), what was expected against what was found,
// the parity setting written to a module found at another parity once the engineer confirms, and the
// outputs that must not be switched, by station. Its commit starts the cabinet's walk.
class CabinetLinePage : public QWizardPage {
    Q_OBJECT

public:
    CabinetLinePage(CheckoutWizard *wizard, ExchangeLink &link);
    ~CabinetLinePage() override;

    // Offers to go on with the newest unfinished cabinet journal of this list in the records folder.
    void initializePage() override;
    bool validatePage() override;
    // Kept as it is when the wizard goes round for the next module.
    void cleanupPage() override {}
    bool isComplete() const override;

    // Stops a survey still running, its port let go through the link; before the link goes.
    void release() { m_survey.reset(); }
    int nextId() const override;
    // A new list: what was found before is forgotten.
    void setList(const CabinetIoList &list);

private:
    void survey(bool allSettings);
    void surveyed();
    void showProgress();
    void judgeAndShow();
    // Asks, then writes the module's parity setting.
    void offerParity(int station);
    void writeParity(int station);
    void say(const QString &text);
    // Takes up the cabinet journal at `path`: its line setting and what its survey found.
    void goOn(const QString &path);
    // The tag typed on the page for a station, or the list's.
    QString typedTag(int station) const;

    CheckoutWizard *m_wizard;
    ExchangeLink &m_link;
    CabinetIoList m_list;
    QSpinBox *m_port;
    QComboBox *m_baud;
    QComboBox *m_parity;
    QLineEdit *m_doNotSwitch;
    QPushButton *m_surveyButton;
    QPushButton *m_allButton;
    QPushButton *m_goOnButton;
    QString m_goOnPath;
    QProgressBar *m_progress;
    QLabel *m_left;
    QTableWidget *m_table;
    QLabel *m_message;
    std::unique_ptr<CabinetSurvey> m_survey;
    std::vector<CabinetFind> m_finds;
    bool m_surveyedAll = false;
    bool m_surveyed = false;
    CabinetRules::Judgement m_judged;
    // A parity write and the module journal it begins, by station.
    struct Write {
        QString name;
        std::unique_ptr<FileJournalSink> sink;
        std::unique_ptr<JournalWriter> journal;
        std::unique_ptr<ParityWrite> write;
        QString said;
    };
    std::map<int, Write> m_writes;
};
