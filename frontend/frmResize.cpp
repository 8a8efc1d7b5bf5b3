#include "frontend/frmResize.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <exception>

#include "batch/PrintableName.h"
#include "common/PictureFormats.h"

namespace folvane {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Carries a run's files to the window, after putting each copy in its
// picture's place when asked to. Called on the run's worker threads.
class ResizeObserver : public kx::batch::Observer {
public:
    ResizeObserver(frmResize* window, bool replace, std::function<void(const kx::batch::FileResult&)> done)
        : window_(window)
        , replace_(replace)
        , done_(std::move(done))
    {}
    void FileDone(const kx::batch::FileResult& finished) override
    {
        kx::batch::FileResult result = finished;
        if (replace_ && result.Outcome == kx::batch::FileOutcome::Resized) {
            QString trashed;
            const bool moved = QFile::moveToTrash(Q(result.Name), &trashed);
            // Without a trash folder some Qt versions move the file to "files/"
            // below the working folder; it is put back.
            if (moved && QFileInfo(trashed).isRelative()) QFile::rename(trashed, Q(result.Name));
            if (moved && QFileInfo(trashed).isAbsolute()) {
                result.Output = PutInPlace(result.Name, result.Output);
            } else {
                result.Outcome = kx::batch::FileOutcome::Failed;
                result.Reason = "could not be moved to the trash; its copy is " + result.Output;
            }
        }
        QMetaObject::invokeMethod(
            window_, [done = done_, result] { done(result); }, Qt::QueuedConnection);
    }

private:
    frmResize* window_;
    bool replace_;
    std::function<void(const kx::batch::FileResult&)> done_;
};

QSize SizeOf(const QVariant& value, QSize otherwise)
{
    const QSize size = value.toSize();
    return size.isValid() && !size.isEmpty() ? size : otherwise;
}

}  // namespace

frmResize::frmResize(std::vector<std::string> files, kx::batch::Engine& engine, QSettings& settings,
                     QWidget* parent)
    : QDialog(parent)
    , files_(std::move(files))
    , engine_(engine)
    , settings_(settings)
{
    setWindowTitle(tr("Resize pictures"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addWidget(new QLabel(files_.size() == 1 ? Q(kx::batch::PrintableName(files_[0]))
                                                    : tr("%n pictures", nullptr, int(files_.size()))));
    layout->addLayout(form);

    cboSize = new QComboBox;
    settings_.beginGroup("Resize");
    for (const SizePreset& preset : kSizePresets)
        cboSize->addItem(tr(preset.Name), SizeOf(settings_.value(QStringLiteral("Presets/") + preset.Name),
                                                 QSize(preset.Width, preset.Height)));
    cboSize->addItem(tr("Custom"), SizeOf(settings_.value("Custom"), QSize(1200, 800)));
    txtWidth = new QSpinBox;
    txtHeight = new QSpinBox;
    auto* sides = new QHBoxLayout;
    for (QSpinBox* side : {txtWidth, txtHeight}) {
        side->setRange(1, 65535);
        side->setSuffix(tr(" px"));
        sides->addWidget(side);
    }
    sides->insertWidget(1, new QLabel(QStringLiteral("\u00d7")));
    form->addRow(tr("&Size:"), cboSize);
    form->addRow(QString(), sides);

    optFit = new QRadioButton(tr("&Fit within"));
    optFill = new QRadioButton(tr("F&ill and crop"));
    optExact = new QRadioButton(tr("E&xactly"));
    auto* sizing = new QHBoxLayout;
    // Radio buttons of one window exclude each other unless grouped.
    auto* sizingGroup = new QButtonGroup(this);
    for (QRadioButton* option : {optFit, optFill, optExact}) {
        sizing->addWidget(option);
        sizingGroup->addButton(option);
    }
    form->addRow(tr("Sizing:"), sizing);
    chkShrinkOnly = new QCheckBox(tr("&Only shrink"));
    form->addRow(QString(), chkShrinkOnly);

    cboFormat = new QComboBox;
    cboFormat->addItem(tr("As the original"), kAsOriginal);
    for (int format : {kx::kFormatJpeg, kx::kFormatPng, kx::kFormatWebp, kx::kFormatAvif})
        cboFormat->addItem(Q(std::string(kx::OutputFormatTitle(format))), format);
    txtQuality = new QSpinBox;
    txtQuality->setRange(1, 100);
    form->addRow(tr("Fo&rmat:"), cboFormat);
    form->addRow(tr("&Quality:"), txtQuality);

    optBeside = new QRadioButton(tr("Copies &beside the originals"));
    optSubFolder = new QRadioButton(tr("Copies in the s&ub-folder"));
    txtSubFolder = new QLineEdit;
    optReplace = new QRadioButton(tr("&Replace the originals (they go to the trash)"));
    auto* placementGroup = new QButtonGroup(this);
    for (QRadioButton* option : {optBeside, optSubFolder, optReplace}) placementGroup->addButton(option);
    auto* placement = new QGridLayout;
    placement->addWidget(optBeside, 0, 0, 1, 2);
    placement->addWidget(optSubFolder, 1, 0);
    placement->addWidget(txtSubFolder, 1, 1);
    placement->addWidget(optReplace, 2, 0, 1, 2);
    form->addRow(tr("Save:"), placement);

    barProgress = new QProgressBar;
    barProgress->setRange(0, int(files_.size()));
    barProgress->setValue(0);
    lblStatus = new QLabel;
    lblStatus->setWordWrap(true);
    layout->addWidget(barProgress);
    layout->addWidget(lblStatus);
    auto* buttons = new QDialogButtonBox;
    cmdResize = buttons->addButton(tr("Resi&ze"), QDialogButtonBox::AcceptRole);
    cmdClose = buttons->addButton(QDialogButtonBox::Close);
    cmdResize->setDefault(true);
    cmdResize->setEnabled(!files_.empty());
    layout->addWidget(buttons);

    // The remembered choices.
    cboSize->setCurrentIndex(std::clamp(settings_.value("Size", 0).toInt(), 0, cboSize->count() - 1));
    SizeChosen(cboSize->currentIndex());
    const int sizingChosen = settings_.value("Sizing", 0).toInt();
    (sizingChosen == 1 ? optFill : sizingChosen == 2 ? optExact : optFit)->setChecked(true);
    chkShrinkOnly->setChecked(settings_.value("ShrinkOnly", true).toBool());
    cboFormat->setCurrentIndex(
        std::max(0, cboFormat->findData(settings_.value("Format", kAsOriginal).toInt())));
    txtQuality->setValue(settings_.value("Quality", kx::batch::kDefaultQuality).toInt());
    const int placed = settings_.value("Placement", 0).toInt();
    (placed == 1 ? optSubFolder : placed == 2 ? optReplace : optBeside)->setChecked(true);
    txtSubFolder->setText(settings_.value("SubFolder", tr("Resized")).toString());
    settings_.endGroup();

    connect(cboSize, &QComboBox::currentIndexChanged, this, &frmResize::SizeChosen);
    connect(txtWidth, &QSpinBox::valueChanged, this, &frmResize::SizeEdited);
    connect(txtHeight, &QSpinBox::valueChanged, this, &frmResize::SizeEdited);
    connect(cmdResize, &QPushButton::clicked, this, &frmResize::Start);
    connect(cmdClose, &QPushButton::clicked, this, &frmResize::reject);
}

frmResize::~frmResize()
{
    stop_ = true;
    if (worker_.joinable()) worker_.join();
}

void frmResize::SizeChosen(int index)
{
    const QSize size = cboSize->itemData(index).toSize();
    const QSignalBlocker width(txtWidth), height(txtHeight);
    txtWidth->setValue(size.width());
    txtHeight->setValue(size.height());
}

void frmResize::SizeEdited()
{
    cboSize->setItemData(cboSize->currentIndex(), QSize(txtWidth->value(), txtHeight->value()));
}

ResizeRequest frmResize::Request() const
{
    ResizeRequest request;
    request.Files = files_;
    request.Width = txtWidth->value();
    request.Height = txtHeight->value();
    const bool custom = cboSize->currentIndex() >= static_cast<int>(kSizePresets.size());
    request.Label = custom ? std::to_string(request.Width) + "x" + std::to_string(request.Height)
                           : cboSize->currentText().toStdString();
    request.sizing = optFill->isChecked()    ? Sizing::Fill
                     : optExact->isChecked() ? Sizing::Exact
                                             : Sizing::Fit;
    request.ShrinkOnly = chkShrinkOnly->isChecked();
    request.Format = cboFormat->currentData().toInt();
    request.Quality = txtQuality->value();
    request.placement = optReplace->isChecked()     ? Placement::Replace
                        : optSubFolder->isChecked() ? Placement::SubFolder
                                                    : Placement::Beside;
    request.SubFolder = txtSubFolder->text().toStdString();
    return request;
}

void frmResize::Save() const
{
    settings_.beginGroup("Resize");
    for (size_t i = 0; i < kSizePresets.size(); ++i)
        settings_.setValue(QStringLiteral("Presets/") + kSizePresets[i].Name, cboSize->itemData(int(i)));
    settings_.setValue("Custom", cboSize->itemData(cboSize->count() - 1));
    settings_.setValue("Size", cboSize->currentIndex());
    settings_.setValue("Sizing", optFill->isChecked() ? 1 : optExact->isChecked() ? 2 : 0);
    settings_.setValue("ShrinkOnly", chkShrinkOnly->isChecked());
    settings_.setValue("Format", cboFormat->currentData());
    settings_.setValue("Quality", txtQuality->value());
    settings_.setValue("Placement", optSubFolder->isChecked() ? 1 : optReplace->isChecked() ? 2 : 0);
    settings_.setValue("SubFolder", txtSubFolder->text());
    settings_.endGroup();
    settings_.sync();
}

void frmResize::Start()
{
    if (Running()) return;
    ResizeRequest request = Request();
    const std::string& sub = request.SubFolder;
    if (request.placement == Placement::SubFolder &&
        (sub.empty() || sub == "." || sub == ".." || sub.find('/') != std::string::npos)) {
        lblStatus->setText(tr("The sub-folder is a name without \"/\"."));
        return;
    }
    Save();
    if (request.placement == Placement::Replace)  // the trash is made in it
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    const std::vector<std::string> outputs = PlanOutputs(request);
    stop_ = false;
    resized_ = 0;
    failures_.clear();
    barProgress->setValue(0);
    lblStatus->setText(tr("Resizing…"));
    cmdResize->setEnabled(false);
    cmdClose->setText(tr("&Stop"));
    worker_ = std::thread([this, request = std::move(request), outputs] {
        bool complete = false;
        try {
            ResizeObserver observer(this, request.placement == Placement::Replace,
                                    [this](const kx::batch::FileResult& result) { FileDone(result); });
            complete = RunResize(request, outputs, engine_, observer, &stop_);
        } catch (const std::exception& error) {
            const QString what = QString::fromLocal8Bit(error.what());
            QMetaObject::invokeMethod(
                this, [this, what] { failures_ << what; }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            this, [this, complete] { RunEnded(complete); }, Qt::QueuedConnection);
    });
}

void frmResize::FileDone(const kx::batch::FileResult& result)
{
    barProgress->setValue(barProgress->value() + 1);
    const QString name = Q(kx::batch::PrintableName(result.Name));
    switch (result.Outcome) {
    case kx::batch::FileOutcome::Resized: ++resized_; break;
    case kx::batch::FileOutcome::Failed:
        failures_ << name + ": " + (result.Reason.empty() ? tr("not resized") : Q(result.Reason));
        break;
    default: failures_ << name + ": " + tr("not a picture"); break;
    }
}

void frmResize::RunEnded(bool complete)
{
    worker_.join();
    const int total = int(files_.size());
    QString text = complete ? tr("%n of %1 pictures resized.", nullptr, resized_).arg(total)
                            : tr("Stopped: %n of %1 pictures resized.", nullptr, resized_).arg(total);
    // The first few files that were not resized, and how many more.
    constexpr int kShown = 8;
    if (!failures_.isEmpty()) text += "\n" + failures_.mid(0, kShown).join("\n");
    if (failures_.size() > kShown)
        text += "\n" + tr("… and %n more", nullptr, int(failures_.size() - kShown));
    lblStatus->setText(text);
    cmdResize->setEnabled(true);
    cmdClose->setText(tr("&Close"));
    cmdClose->setEnabled(true);
    emit Finished();
}

void frmResize::reject()
{
    if (!Running()) {
        Save();
        return QDialog::reject();
    }
    stop_ = true;  // the run ends soon; the window stays to tell how
    cmdClose->setEnabled(false);
}

}  // namespace folvane
