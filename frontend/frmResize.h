// The "Resize pictures" window that a file manager's action opens for the
// pictures selected there (folvane --resize FILE...): a size preset or a
// custom size, how to meet it, the output format and where the copies go.
// The work runs on threads of its own; the window shows its progress and
// can stop it. The choices are remembered in the settings given.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <atomic>
#include <thread>

#include "frontend/modResize.h"

namespace folvane {

class frmResize : public QDialog {
    Q_OBJECT
public:
    // `engine` and `settings` must outlive the window.
    frmResize(std::vector<std::string> files, kx::batch::Engine& engine, QSettings& settings,
              QWidget* parent = nullptr);
    ~frmResize() override;

    // The request as the controls stand.
    ResizeRequest Request() const;
    bool Running() const { return worker_.joinable(); }

    // The controls, by their names. cboSize lists the presets, then "Custom".
    QComboBox* cboSize;
    QSpinBox* txtWidth;
    QSpinBox* txtHeight;
    QRadioButton* optFit;
    QRadioButton* optFill;
    QRadioButton* optExact;
    QCheckBox* chkShrinkOnly;
    QComboBox* cboFormat;  // "As the original", then the output formats by number
    QSpinBox* txtQuality;
    QRadioButton* optBeside;
    QRadioButton* optSubFolder;
    QLineEdit* txtSubFolder;
    QRadioButton* optReplace;
    QProgressBar* barProgress;
    QLabel* lblStatus;
    QPushButton* cmdResize;
    QPushButton* cmdClose;  // "Stop" while a run is under way

signals:
    // A run has ended and lblStatus tells how.
    void Finished();

protected:
    void reject() override;

private:
    void SizeChosen(int index);
    void SizeEdited();
    void Save() const;
    void Start();
    void FileDone(const kx::batch::FileResult& result);
    void RunEnded(bool complete);

    std::vector<std::string> files_;
    kx::batch::Engine& engine_;
    QSettings& settings_;
    std::atomic<bool> stop_{false};
    std::thread worker_;
    int resized_ = 0;
    QStringList failures_;
};

}  // namespace folvane
