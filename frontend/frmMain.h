// The main window: four numbered steps (folder, method, sizes, start), the
// step guide with its help pictures, the job details and the progress column.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>
#include <mutex>
#include <optional>

#include "frontend/ValueLabel.h"
#include "frontend/modProcessFolder.h"

namespace folvane {

class frmMain : public QWidget, public IProgressView {
    Q_OBJECT
public:
    // `engine` resizes the pictures of a run; it must outlive the window.
    // `close` is called when the window closes (the program ends).
    explicit frmMain(IResizeEngine& engine, std::function<void()> close = {}, QWidget* parent = nullptr);
    ~frmMain() override;

    // The progress column and status line, moved by the batch run. From
    // another thread the newest state is handed to the user-interface
    // thread, which shows it when its event loop next comes round.
    void ShowMeter(const MeterState& meter, bool repaintNow) override;

    // Steps of the guide: markers, help picture, job details for step 4.
    void NumberOne();
    void NumberTwo();
    void NumberThree();
    void NumberFour();
    // Shows or hides the job details panel.
    void MeterStuff(bool PLVVal);

    // Whether the start button may be enabled for the current entries.
    bool ValidateEntries();
    // Enables the height, width and percentage boxes with their labels.
    void EnableInputBoxes(bool bHeight, bool bWidth, bool bPercentage);

    // Event handlers, as the toolkit calls them.
    void Form_Load();
    void CmdBrowse_Click();
    void chkMethod_Click(int index);
    // Returns when the run is over. The run works on a thread of its own
    // while this one keeps the windows painted; meanwhile the window takes
    // no input (see RunWithoutInput).
    void cmdProcess_Click();
    void cmdAbout_Click();

    // The controls, by their names.
    QLabel* ImgNo1;
    QLabel* ImgNo2;
    QLabel* ImgNo3;
    QLabel* ImgNo4;
    QLabel* lblHeader1;
    QLabel* lblHeader2;
    QLabel* lblHeader3;
    QLabel* lblHeader4;
    QPushButton* CmdBrowse;
    std::array<QCheckBox*, 5> chkMethod;
    QLabel* lblHeight;
    QLineEdit* txtHeight;
    QLabel* lblPixels1;
    QLabel* lblWidth;
    QLineEdit* txtWidth;
    QLabel* lblPixels2;
    QLabel* lblPercent;
    QLineEdit* txtPercentage;
    QLabel* lblPercSymb;
    QPushButton* cmdProcess;
    QLabel* imgHelp;
    QLabel* lblWorking;
    std::array<QLabel*, 4> lblJob;
    ValueLabel* txtSourceFolder;
    ValueLabel* txtDestFolder;
    ValueLabel* txtParam;
    QFrame* fraMeter;
    QLabel* imgBanner;
    QPushButton* cmdAbout;

    // The chosen sizing method, 0 to 4 (the row of kx::batch::kMethods); 0
    // at first. Only chkMethod_Click writes it.
    int16_t ResizeMethod = 0;

    // The progress column and its caption as they stand.
    MeterState CurrentMeter() const { return meter_.CurrentMeter(); }

    // Whether a run is going on.
    bool Running() const { return running_; }

    // Which picture of each list a control shows (1-based, 0 for none), for
    // the step guide's bookkeeping and its tests.
    int PictureOf(const QLabel* picture) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void ShowStep(int step);
    void SetPicture(QLabel* target, const QString& resource, int picture);
    void SetIcoPicture(QLabel* target, int picture);
    void SetJpgPicture(QLabel* target, int picture);
    // `entered`: the box was entered by the keyboard, the mouse or the
    // program, and selects its whole text.
    void SizeBox_GotFocus(QLineEdit* box, const char* procedure, bool entered);
    void ControlGotFocus(QObject* control, bool entered);
    void SizeBox_Change(const char* procedure);
    void ApplyMeter(const MeterState& meter, bool repaintNow);
    void ShowPostedMeter();
    // Runs `work` on another thread and turns this thread's event loop until
    // it is over, swallowing the user's input to this window (not to the
    // boxes the work shows). A failure of `work` is raised here.
    void RunWithoutInput(const std::function<void()>& work);

    IResizeEngine& engine_;
    const std::function<void()> close_;
    Meter meter_{this};
    std::array<QLabel*, 4> stepMarkers_{};
    std::vector<std::pair<const QLabel*, int>> pictures_;
    bool running_ = false;
    // The newest meter from another thread, not yet shown.
    std::mutex meterMutex_;
    std::optional<MeterState> postedMeter_;
};

// Converts a rectangle in twips (15 to a pixel) to pixels, rounding each edge,
// so that edges the design keeps fixed stay fixed.
QRect TwipsToPixels(int left, int top, int width, int height);

}  // namespace folvane
