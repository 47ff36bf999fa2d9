// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/SettingsView.h"

#include <array>
#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/BuildInfo.h"
#include "core/services/TriggerModifier.h"
#include "core/services/UserDefaults.h"
#include "ui/windows/KeyNames.h"
#include "ui/windows/SettingsStore.h"

namespace kolvex {

namespace {

constexpr std::array<int64_t, 5> kBitrates{96000, 128000, 192000, 256000, 320000};
constexpr std::array<int64_t, 5> kParallelLimits{0, 1, 2, 4, 8};
constexpr int kSliderScale = 1000;  // the slider moves in thousandths of the quality

QLabel* caption(const QString& text, bool pathText = false) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(!pathText);
    if (pathText) label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// One line, cut in the middle when it does not fit.
QString elidedPath(const QLabel* label, const QString& text) {
    return label->fontMetrics().elidedText(text, Qt::ElideMiddle, 300);
}

QWidget* page(QLayout* content) {
    auto* widget = new QWidget;
    content->setContentsMargins(12, 6, 12, 6);
    widget->setLayout(content);
    return widget;
}

}  // namespace

std::string SettingsView::percentLabel(double quality) {
    return std::to_string(static_cast<int64_t>(std::trunc(quality * 100))) + "%";
}

std::string SettingsView::bitrateLabel(int64_t bitsPerSecond) {
    return std::to_string(bitsPerSecond / 1000) + " kbps";
}

std::string SettingsView::countLabel(int64_t count) {
    return std::to_string(count) + " file" + (count == 1 ? "" : "s");
}

std::string SettingsView::triggerRowLabel(int index) {
    return keyLabel(kAllTriggerModifiers.at(static_cast<std::size_t>(index)), "  ");
}

SettingsView::SettingsView(SettingsStore& store, std::shared_ptr<FileChooser> chooser, QWidget* parent)
    : QWidget(parent), m_store(store), m_chooser(std::move(chooser)) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget;
    outer->addWidget(m_tabs);
    setFixedSize(480, 340);

    // --- General ---
    auto* general = new QFormLayout;
    m_outputLocation = new QComboBox;
    for (auto location : kAllOutputLocations) m_outputLocation->addItem(QString::fromStdString(label(location)));
    general->addRow("Save converted files to", m_outputLocation);
    m_customRow = new QWidget;
    auto* customLayout = new QHBoxLayout(m_customRow);
    customLayout->setContentsMargins(0, 0, 0, 0);
    m_customText = caption({}, true);
    customLayout->addWidget(m_customText, 1);
    auto* chooseFolderButton = new QPushButton("Choose…");
    customLayout->addWidget(chooseFolderButton);
    general->addRow(m_customRow);
    m_conflict = new QComboBox;
    for (auto behaviour : kOfferedConflictBehaviours) m_conflict->addItem(QString::fromStdString(label(behaviour)));
    general->addRow("If a file already exists", m_conflict);
    m_metadata = new QCheckBox("Keep metadata such as EXIF and GPS");
    general->addRow(m_metadata);
    m_notifications = new QCheckBox("Notify me when a conversion finishes");
    general->addRow(m_notifications);
    m_trigger = new QComboBox;
    for (int i = 0; i < static_cast<int>(kAllTriggerModifiers.size()); ++i)
        m_trigger->addItem(QString::fromStdString(triggerRowLabel(i)));
    general->addRow("Open the Portal with", m_trigger);
    m_tabs->addTab(page(general), QIcon::fromTheme("preferences-system"), "General");

    // --- Conversion ---
    auto* conversion = new QVBoxLayout;
    auto* qualities = new QFormLayout;
    const auto qualityRow = [&](const QString& title, QSlider*& slider, QLabel*& text) {
        auto* row = new QHBoxLayout;
        slider = new QSlider(Qt::Horizontal);
        slider->setRange(static_cast<int>(0.1 * kSliderScale), kSliderScale);
        text = new QLabel;
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        text->setFont(mono);
        text->setForegroundRole(QPalette::PlaceholderText);
        text->setFixedWidth(38);
        text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(slider, 1);
        row->addWidget(text);
        qualities->addRow(title, row);
    };
    qualityRow("Image quality", m_imageQuality, m_imageQualityText);
    qualityRow("Video quality", m_videoQuality, m_videoQualityText);
    m_bitrate = new QComboBox;
    for (auto rate : kBitrates) m_bitrate->addItem(QString::fromStdString(bitrateLabel(rate)));
    qualities->addRow("Audio bitrate", m_bitrate);
    conversion->addLayout(qualities);
    auto* parallelForm = new QFormLayout;
    m_parallel = new QComboBox;
    for (auto limit : kParallelLimits)
        m_parallel->addItem(limit == 0 ? QString("Decide automatically") : QString::fromStdString(countLabel(limit)));
    parallelForm->addRow("Convert at once", m_parallel);
    parallelForm->addRow(caption("Automatic is almost always right: image conversions parallelise well, while video "
                                 "conversions are memory-heavy and run faster two at a time than eight."));
    conversion->addLayout(parallelForm);
    conversion->addStretch(1);
    m_tabs->addTab(page(conversion), QIcon::fromTheme("view-refresh"), "Conversion");

    // --- Appearance ---
    auto* look = new QFormLayout;
    m_appearance = new QComboBox;
    for (auto appearance : kAllAppearances) m_appearance->addItem(QString::fromStdString(label(appearance)));
    look->addRow("Theme", m_appearance);
    look->addRow(caption("The Portal follows this setting. Reduce Motion in your desktop's settings is always "
                         "respected, whichever theme is chosen."));
    m_tabs->addTab(page(look), QIcon::fromTheme("preferences-desktop-theme"), "Appearance");

    // --- Advanced ---
    auto* advanced = new QVBoxLayout;
    auto* ffmpegRow = new QHBoxLayout;
    m_ffmpegText = caption({}, true);
    ffmpegRow->addWidget(m_ffmpegText, 1);
    m_ffmpegReset = new QPushButton("Reset");
    ffmpegRow->addWidget(m_ffmpegReset);
    auto* chooseFFmpegButton = new QPushButton("Choose…");
    ffmpegRow->addWidget(chooseFFmpegButton);
    advanced->addLayout(ffmpegRow);
    advanced->addWidget(caption("Choose another ffmpeg program only for a build with codecs that one lacks."));
    m_updateCaption = caption("Updates come with your distribution's packages.");
    advanced->addWidget(m_updateCaption);
    m_debug = new QCheckBox("Write debug logs");
    advanced->addWidget(m_debug);
    m_logCaption = caption(QString("Logs go to the system journal as %1 (journalctl -t %1).")
                               .arg(QString::fromLatin1(buildinfo::kBundleIdentifier)));
    advanced->addWidget(m_logCaption);
    m_resetAll = new QPushButton("Reset all settings");
    advanced->addWidget(m_resetAll, 0, Qt::AlignLeft);
    advanced->addStretch(1);
    m_tabs->addTab(page(advanced), QIcon::fromTheme("preferences-other"), "Advanced");

    // --- Bindings: every edit goes straight to the store ---
    const auto edit = [this](auto change) {
        if (m_refreshing) return;
        m_store.update(change);
    };
    connect(m_outputLocation, &QComboBox::activated, this, [edit](int index) {
        edit([index](Preferences& p) { p.outputLocation = kAllOutputLocations.at(static_cast<std::size_t>(index)); });
    });
    connect(chooseFolderButton, &QPushButton::clicked, this, &SettingsView::chooseOutputFolder);
    connect(m_conflict, &QComboBox::activated, this, [edit](int index) {
        edit([index](Preferences& p) { p.conflictBehaviour = kOfferedConflictBehaviours.at(static_cast<std::size_t>(index)); });
    });
    connect(m_metadata, &QCheckBox::toggled, this, [edit](bool on) { edit([on](Preferences& p) { p.preserveMetadata = on; }); });
    connect(m_notifications, &QCheckBox::toggled, this,
            [edit](bool on) { edit([on](Preferences& p) { p.showNotifications = on; }); });
    connect(m_trigger, &QComboBox::activated, this, [edit](int index) {
        edit([index](Preferences& p) {
            p.triggerModifier = std::string(toString(kAllTriggerModifiers.at(static_cast<std::size_t>(index))));
        });
    });
    connect(m_imageQuality, &QSlider::valueChanged, this, [edit](int value) {
        edit([value](Preferences& p) { p.imageQuality = static_cast<double>(value) / kSliderScale; });
    });
    connect(m_videoQuality, &QSlider::valueChanged, this, [edit](int value) {
        edit([value](Preferences& p) { p.videoQuality = static_cast<double>(value) / kSliderScale; });
    });
    connect(m_bitrate, &QComboBox::activated, this, [edit](int index) {
        edit([index](Preferences& p) { p.audioBitrate = kBitrates.at(static_cast<std::size_t>(index)); });
    });
    connect(m_parallel, &QComboBox::activated, this, [edit](int index) {
        edit([index](Preferences& p) { p.parallelLimit = kParallelLimits.at(static_cast<std::size_t>(index)); });
    });
    connect(m_appearance, &QComboBox::activated, this, [edit](int index) {
        edit([index](Preferences& p) { p.appearance = kAllAppearances.at(static_cast<std::size_t>(index)); });
    });
    connect(m_ffmpegReset, &QPushButton::clicked, this,
            [edit] { edit([](Preferences& p) { p.ffmpegOverridePath.reset(); }); });
    connect(chooseFFmpegButton, &QPushButton::clicked, this, &SettingsView::chooseFFmpeg);
    connect(m_debug, &QCheckBox::toggled, this, [edit](bool on) { edit([on](Preferences& p) { p.debugLogging = on; }); });
    connect(m_resetAll, &QPushButton::clicked, this, [this] { m_store.reset(); });
    connect(&m_store, &SettingsStore::didChange, this, &SettingsView::refresh);

    refresh();
}

SettingsView::~SettingsView() { withdrawChooser(); }

void SettingsView::withdrawChooser() {
    if (m_shownChooser && m_chooser) m_chooser->withdraw(*m_shownChooser);
    m_shownChooser.reset();
}

void SettingsView::choose(FileChooser::Request request, std::function<void(Preferences&, std::string)> store) {
    if (!m_chooser) return;
    withdrawChooser();  // one chooser of this window at a time: the newer question wins
    QPointer<SettingsView> self(this);
    m_shownChooser = m_chooser->show(request, [self, store = std::move(store)](std::vector<std::filesystem::path> chosen) {
        if (!self) return;
        self->m_shownChooser.reset();
        if (chosen.empty()) return;  // cancelled: nothing changes
        // The path's bytes, as the file system has them: a name that is not UTF-8 is kept as it is.
        self->m_store.update([&](Preferences& p) { store(p, chosen.front().native()); });
    });
}

namespace {

// Where a chooser for a stored path opens: the stored folder (or the folder of a stored file)
// while it is there, else the home folder.
std::optional<std::filesystem::path> startFolder(const std::optional<std::string>& stored, bool isFile) {
    std::error_code error;
    if (stored && !stored->empty()) {
        const std::filesystem::path path(*stored);
        const std::filesystem::path folder = isFile ? path.parent_path() : path;
        if (std::filesystem::is_directory(folder, error)) return folder;
    }
    const QByteArray home = QFile::encodeName(QDir::homePath());
    return std::filesystem::path(home.toStdString());
}

}  // namespace

void SettingsView::chooseOutputFolder() {
    FileChooser::Request request;
    request.mode = FileChooser::Mode::chooseFolder;
    request.title = "Save converted files to";
    request.acceptLabel = "_Choose";
    request.startFolder = startFolder(m_store.preferences().customOutputPath, false);
    choose(std::move(request), [](Preferences& p, std::string path) { p.customOutputPath = std::move(path); });
}

void SettingsView::chooseFFmpeg() {
    FileChooser::Request request;
    request.mode = FileChooser::Mode::openFile;
    request.title = "Choose an FFmpeg program";
    request.acceptLabel = "_Use";
    request.startFolder = startFolder(m_store.preferences().ffmpegOverridePath, true);
    choose(std::move(request), [](Preferences& p, std::string path) { p.ffmpegOverridePath = std::move(path); });
}

namespace {

template <typename Array, typename Value>
int indexOf(const Array& values, const Value& value) {
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] == value) return static_cast<int>(i);
    return -1;  // a stored value none of the choices offers: shown as no choice, kept as it is
}

// A stored path as the user reads it; bytes that are no text in the file names' encoding show
// as replacement characters (the stored bytes are not touched).
QString displayPath(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

}  // namespace

void SettingsView::refresh() {
    m_refreshing = true;
    const Preferences& p = m_store.preferences();
    m_outputLocation->setCurrentIndex(indexOf(kAllOutputLocations, p.outputLocation));
    m_customRow->setVisible(p.outputLocation == Preferences::OutputLocation::custom);
    const QString custom = p.customOutputPath ? displayPath(*p.customOutputPath) : QString("No folder chosen");
    m_customText->setText(elidedPath(m_customText, custom));
    m_customText->setToolTip(custom);
    m_conflict->setCurrentIndex(indexOf(kOfferedConflictBehaviours, p.conflictBehaviour));
    m_metadata->setChecked(p.preserveMetadata);
    m_notifications->setChecked(p.showNotifications);
    m_trigger->setCurrentIndex(indexOf(kAllTriggerModifiers, triggerModifierFromString(p.triggerModifier)
                                                                 .value_or(TriggerModifier::shift)));
    m_imageQuality->setValue(static_cast<int>(std::lround(p.imageQuality * kSliderScale)));
    m_imageQualityText->setText(QString::fromStdString(percentLabel(p.imageQuality)));
    m_videoQuality->setValue(static_cast<int>(std::lround(p.videoQuality * kSliderScale)));
    m_videoQualityText->setText(QString::fromStdString(percentLabel(p.videoQuality)));
    m_bitrate->setCurrentIndex(indexOf(kBitrates, p.audioBitrate));
    m_parallel->setCurrentIndex(indexOf(kParallelLimits, p.parallelLimit));
    m_appearance->setCurrentIndex(indexOf(kAllAppearances, p.appearance));
    const QString ffmpeg =
        p.ffmpegOverridePath ? displayPath(*p.ffmpegOverridePath) : QString("Using your distribution\u2019s FFmpeg");
    m_ffmpegText->setText(elidedPath(m_ffmpegText, ffmpeg));
    m_ffmpegText->setToolTip(ffmpeg);
    m_ffmpegReset->setVisible(p.ffmpegOverridePath.has_value());
    m_debug->setChecked(p.debugLogging);
    m_refreshing = false;
}

}  // namespace kolvex
