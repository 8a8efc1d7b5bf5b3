// The About box: the program's title, version and purpose, a notice, a link
// to the maker's web site and the system information button.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <string>
#include <vector>

namespace folvane {

// The maker's web site.
inline constexpr const char* kMakerWebAddress = "https://www.folvane.example/";

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // The one About box, created on first use.
    static frmAbout& Instance(QWidget* parent);

    // Starts the first system information program found on PATH, or says
    // that none is available.
    void StartSysInfo();

    // Programs tried by StartSysInfo, in order.
    static const std::vector<std::string>& SystemInfoPrograms();

    QLabel* Image1;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QLabel* lblDisclaimer;
    QLabel* Label1;
    QLabel* lblURL;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    explicit frmAbout(QWidget* parent);
    void Form_Load();
    void OpenWebPage(const std::string& address);
    // Sets the width of the wrapped texts from the present font.
    void FitTextWidth();
    bool urlPressed_ = false;
};

// "Version " and the program's major, minor and patch numbers.
std::string VersionText(const std::string& version);

}  // namespace folvane
