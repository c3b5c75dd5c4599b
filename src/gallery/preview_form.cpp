#include "gallery/preview_form.h"

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QShowEvent>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "gallery/thumbnail_maker.h"
#include "picture/bitmap.h"
#include "picture/file_format_list.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "widgets/clipped_text_tip.h"

namespace quorvex {

namespace {

// num / den rounded to the nearest integer, a half to the even one.
int64_t RoundHalfEven(int64_t num, int64_t den) {
  const int64_t quotient = num / den;
  const int64_t twice = 2 * (num % den);
  if (twice > den || (twice == den && (quotient & 1) != 0)) return quotient + 1;
  return quotient;
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) c = AsciiUpper(c);
  return text;
}

// ASCII letters without regard to case, every other byte by its value.
bool NameLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(AsciiUpper(x)) < static_cast<unsigned char>(AsciiUpper(y));
  });
}

// From the last "." on, the dot included; empty without one.
std::string Extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// Whether a listed item carries the directory attribute and no other: a
// folder that is neither hidden (a dot name) nor read-only. Such items are
// never loaded; folders with more attributes are tried like files.
bool DirectoryAttributeAlone(const std::string& path, const std::string& name) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
  const bool hidden = !name.empty() && name[0] == '.';
  const bool readOnly = (status.st_mode & S_IWUSR) == 0;
  return !hidden && !readOnly;
}

}  // namespace

void ThumbnailSize(int32_t width, int32_t height, int32_t& thumbWidth, int32_t& thumbHeight) {
  constexpr int64_t kBox = 100;
  if (width <= kBox && height <= kBox) {
    thumbWidth = width;
    thumbHeight = height;
  } else if (width > height) {
    thumbWidth = kBox;
    // At least one row, so that a very flat picture still shows.
    thumbHeight = static_cast<int32_t>(std::max<int64_t>(1, RoundHalfEven(height * kBox, width)));
  } else {
    thumbHeight = kBox;
    thumbWidth = static_cast<int32_t>(std::max<int64_t>(1, RoundHalfEven(width * kBox, height)));
  }
}

void MakeThumbnail(const TBitmap& source, TBitmap& target) {
  int32_t thumbWidth = 0;
  int32_t thumbHeight = 0;
  ThumbnailSize(source.ImageWidth(), source.ImageHeight(), thumbWidth, thumbHeight);
  if (thumbWidth == source.ImageWidth() && thumbHeight == source.ImageHeight()) {
    target.TakeFrom(&source);
    return;
  }
  StretchThumbnail(source, target, thumbWidth, thumbHeight);
}

void StretchThumbnail(const TBitmap& source, TBitmap& target, int32_t thumbWidth,
                      int32_t thumbHeight) {
  const int32_t width = source.ImageWidth();
  const int32_t height = source.ImageHeight();
  target.SetLayout(PixelLayout::Bits24);
  target.SetImageWidth(thumbWidth);
  target.SetImageHeight(thumbHeight);
  target.ApplyPalette(source.QueryPalette());
  // Nearest neighbour: each target pixel takes the source pixel under its
  // centre.
  std::vector<int32_t> columns(static_cast<size_t>(thumbWidth));
  for (int32_t x = 0; x < thumbWidth; ++x) {
    columns[static_cast<size_t>(x)] =
        static_cast<int32_t>((2 * int64_t{x} + 1) * width / (2 * int64_t{thumbWidth}));
  }
  for (int32_t y = 0; y < thumbHeight; ++y) {
    const auto sy =
        static_cast<int32_t>((2 * int64_t{y} + 1) * height / (2 * int64_t{thumbHeight}));
    uint8_t* row = target.RowAddress(y);
    for (int32_t x = 0; x < thumbWidth; ++x) {
      const uint32_t color = source.PixelColor(columns[static_cast<size_t>(x)], sy);
      row[3 * x] = static_cast<uint8_t>(color);
      row[3 * x + 1] = static_cast<uint8_t>(color >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(color >> 16);
    }
  }
}

QString FinalCaption(int loaded) {
  return QStringLiteral("Previews    (%1 images loaded)").arg(loaded);
}

TPreviewForm::TPreviewForm(TServices services, std::function<std::string()> treeFolder,
                           QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      services_(services),
      treeFolder_(std::move(treeFolder)) {
  setObjectName("PreviewForm");
  setWindowTitle(kPreviewCaption);
  // Every pixel is painted by FormPaint; nothing is erased first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);

  Browsefolder1 = new QMenu("File", this);
  Browsefolder1->setObjectName("Browsefolder1");
  Action1 = new QAction("Browse folder...", this);
  Action1->setObjectName("Action1");
  Action1->setShortcut(Qt::Key_F3);
  Action1->setShortcutContext(Qt::WindowShortcut);
  Browsefolder1->addAction(Action1);
  Browsefolder1->addSeparator()->setObjectName("N1");
  Exit1 = Browsefolder1->addAction("Exit");
  Exit1->setObjectName("Exit1");
  // The menu entry is hidden: the window itself carries the key.
  addAction(Action1);
  connect(Action1, &QAction::triggered, this, [this] { Action1Execute(); });
  connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });

  VertScrollBar = new QScrollBar(Qt::Vertical, this);
  VertScrollBar->setObjectName("VertScrollBar");
  VertScrollBar->setTracking(true);
  VertScrollBar->setSingleStep(34);
  VertScrollBar->setFocusPolicy(Qt::NoFocus);
  VertScrollBar->hide();
  connect(VertScrollBar, &QScrollBar::valueChanged, this, [this] { update(); });

  FormCreate();
  setFixedSize(kClientWidth, kClientHeight);
}

TPreviewForm::~TPreviewForm() {
  ClearEntries();
}

void TPreviewForm::FormCreate() {
  FrameWidth = 2;
  CellSpacing = 15;
  CaptionHeight = 15;
  ThumbWidth = 100;
  ThumbHeight = 100;
}

int TPreviewForm::ClientWidth() const {
  return width() - (VertScrollBar->isVisibleTo(this) ? kScrollBarWidth : 0);
}

int TPreviewForm::ScrollPosition() const {
  return VertScrollBar->value();
}

void TPreviewForm::SetScrollPosition(int position) {
  VertScrollBar->setValue(position);
}

void TPreviewForm::ComputeLayout() {
  columns_ = std::max(1, (ClientWidth() + CellSpacing) / PitchX());
  firstVisibleRow_ = ScrollPosition() / PitchY();
}

QRect TPreviewForm::CellRect(int index) const {
  const int columns = std::max(1, columns_);
  const int left = (index % columns) * PitchX();
  const int top = kTopMargin + (index / columns) * PitchY() - ScrollPosition();
  return QRect(left, top, CellWidth(), CellHeight());
}

bool TPreviewForm::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QDialog::event(event);
  auto* help = static_cast<QHelpEvent*>(event);
  for (size_t i = 0; i < Entries_.size(); ++i) {
    if (!CellRect(static_cast<int>(i)).contains(help->pos())) continue;
    ShowClippedTextTip(help, this, QFile::decodeName(Entries_[i]->FileName.c_str()), ThumbWidth);
    return true;
  }
  QToolTip::hideText();
  return true;
}

QRect TPreviewForm::ThumbnailRect(int index) const {
  const QRect cell = CellRect(index);
  const TBitmap& thumb = *Entries_[static_cast<size_t>(index)]->Thumbnail;
  const int w = thumb.ImageWidth();
  const int h = thumb.ImageHeight();
  const int inner = FrameWidth + 1;
  return QRect(cell.left() + inner + (ThumbWidth - w) / 2,
               cell.top() + inner + (ThumbHeight - h) / 2, w, h);
}

void TPreviewForm::UpdateScrollRange() {
  ComputeLayout();
  scrollRange_ = static_cast<int>(Entries_.size()) / columns_ * PitchY() + kRangeAllowance;
  const int clientHeight = height();
  const bool shows = scrollRange_ > clientHeight;
  VertScrollBar->setPageStep(clientHeight);
  VertScrollBar->setRange(0, std::max(0, scrollRange_ - clientHeight));
  if (shows != VertScrollBar->isVisibleTo(this)) {
    VertScrollBar->setVisible(shows);
    ComputeLayout();
  }
  PlaceScrollBar();
}

void TPreviewForm::PlaceScrollBar() {
  VertScrollBar->setGeometry(width() - kScrollBarWidth, 0, kScrollBarWidth, height());
}

void TPreviewForm::ClearEntries() {
  Entries_.clear();
}

void TPreviewForm::LoadFolder() {
  // The window answers input while it fills, F3 and showing included.
  if (loading_) return;
  loading_ = true;
  struct Loaded {
    bool& loading;
    ~Loaded() { loading = false; }
  } loadedGuard{loading_};
  int loaded = 0;
  try {
    ClearEntries();
    scrollRange_ = 0;
    VertScrollBar->setRange(0, 0);
    VertScrollBar->setValue(0);
    VertScrollBar->hide();
    ComputeLayout();
    if (Folder_.empty() || Folder_.back() != '/') Folder_ += '/';

    std::vector<std::string> extensions;
    FileFormatList().ListExtensions(extensions);
    for (std::string& extension : extensions) extension = "." + AsciiUpper(extension);

    std::vector<std::string> names;
    std::vector<std::string> paths;
    std::error_code error;
    std::filesystem::directory_iterator items(Folder_, error);
    const std::filesystem::directory_iterator end;
    for (; !error && items != end; items.increment(error)) {
      const std::string name = items->path().filename().string();
      const std::string path = Folder_ + name;
      if (DirectoryAttributeAlone(path, name)) continue;
      const std::string extension = AsciiUpper(Extension(name));
      if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end()) continue;
      names.push_back(name);
      paths.push_back(path);
    }

    // The thumbnails are made on other threads; this one takes them in the
    // listing's order. In between it sleeps in the event loop, so that it
    // answers input at once; each thumbnail made wakes it with an empty call.
    TThumbnailMaker maker(std::move(paths), 0, [this] {
      QMetaObject::invokeMethod(
          this, [] {}, Qt::QueuedConnection);
    });
    // A run of thumbnails that are ready at once still lets input through
    // this often.
    using Clock = std::chrono::steady_clock;
    constexpr auto kAnswerEvery = std::chrono::milliseconds(10);
    size_t taken = 0;
    Clock::time_point answered = Clock::now();
    while (!maker.Done()) {
      std::optional<TThumbnailMaker::Result> result = maker.TakeNext(std::chrono::milliseconds(0));
      if (!result || Clock::now() - answered > kAnswerEvery) {
        QCoreApplication::processEvents(result ? QEventLoop::AllEvents
                                               : QEventLoop::WaitForMoreEvents);
        answered = Clock::now();
        if (!result) continue;
      }
      const std::string& name = names[taken++];
      if (!result->thumbnail) {
        // A picture that cannot be shown is left out silently.
        services_.pause->ProcessMessages();
        continue;
      }
      auto entry = std::make_unique<TFileEntry>();
      entry->FileName = name;
      entry->Thumbnail = std::move(result->thumbnail->bitmap);
      entry->Image = std::move(result->thumbnail->image);
      const int index = static_cast<int>(Entries_.size());
      Entries_.push_back(std::move(entry));
      ++loaded;
      setWindowTitle(QStringLiteral("%1 images loaded").arg(loaded));
      UpdateScrollRange();
      if (CellRect(index).intersects(QRect(0, 0, ClientWidth(), height()))) repaint();
    }
    UpdateScrollRange();
    std::stable_sort(Entries_.begin(), Entries_.end(), [](const auto& a, const auto& b) {
      return NameLess(a->FileName, b->FileName);
    });
    update();
  } catch (...) {
    setWindowTitle(FinalCaption(loaded));
    throw;
  }
  setWindowTitle(FinalCaption(loaded));
}

void TPreviewForm::FormShow() {
  services_.pause->ProcessMessages();
  try {
    Folder_ = treeFolder_ ? treeFolder_() : std::string();
    LoadFolder();
  } catch (const std::exception& error) {
    ReportFailure(error);
  }
  // The busy cursor the main window set when it opened the gallery.
  if (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

bool TPreviewForm::BrowseForFolder(const QString& title, const std::string& initialFolder,
                                   std::string& chosen) {
  std::string initial = initialFolder;
  if (initial.size() > 1 && initial.back() == '/') initial.pop_back();
  const auto folder =
      services_.dialogs->ChooseFolder(this, title, QFile::decodeName(initial.c_str()));
  if (!folder || folder->isEmpty()) return false;
  chosen = QFile::encodeName(*folder).toStdString();
  return true;
}

void TPreviewForm::Action1Execute() {
  std::string chosen;
  if (!BrowseForFolder(kBrowseFolderTitle, Folder_, chosen)) return;
  Folder_ = chosen;
  // A reload runs while the gallery is on screen and shows no busy cursor.
  const TBusyCursor windowCursor = SetBusyCursor({});
  try {
    LoadFolder();
  } catch (const std::exception& error) {
    SetBusyCursor(windowCursor);
    ReportFailure(error);
    return;
  }
  SetBusyCursor(windowCursor);
}

void TPreviewForm::Exit1Click() {
  close();
}

void TPreviewForm::ReportFailure(const std::exception& error) {
  if (errorReport_) {
    errorReport_(error);
  } else {
    std::fprintf(stderr, "%s\n", error.what());
  }
}

void TPreviewForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TPreviewForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FormResize();
}

void TPreviewForm::FormResize() {
  UpdateScrollRange();
  update();
}

void TPreviewForm::wheelEvent(QWheelEvent* event) {
  if (VertScrollBar->isVisible()) {
    QApplication::sendEvent(VertScrollBar, event);
  } else {
    event->ignore();
  }
}

void TPreviewForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  FormPaint(painter);
}

void TPreviewForm::FormPaint(QPainter& painter) {
  ComputeLayout();
  const QPalette& colors = palette();
  const QColor highlight = colors.color(QPalette::Light);
  const QColor shadow = colors.color(QPalette::Dark);
  const QColor text = colors.color(QPalette::WindowText);
  const QFontMetrics metrics(font());
  // What is left for the background once the cells are painted.
  QRegion remaining(rect());
  int index = columns_ * firstVisibleRow_;
  int top = kTopMargin + firstVisibleRow_ * PitchY() - ScrollPosition();
  const int count = static_cast<int>(Entries_.size());
  while (top < height() && index < count) {
    const QRect cell = CellRect(index);
    if (cell.top() + cell.height() > 0) {
      const TFileEntry& entry = *Entries_[static_cast<size_t>(index)];
      const QRect thumb = ThumbnailRect(index);
      painter.setClipRegion(remaining);
      painter.drawImage(thumb.topLeft(), entry.Image);
      remaining -= thumb;
      painter.setClipRegion(remaining);
      painter.fillRect(cell, highlight);
      // A sunken outer edge: shadow above and left, highlight below and right.
      painter.setPen(shadow);
      painter.drawLine(cell.topLeft(), cell.topRight());
      painter.drawLine(cell.topLeft(), cell.bottomLeft());
      painter.setPen(highlight);
      painter.drawLine(cell.bottomLeft(), cell.bottomRight());
      painter.drawLine(cell.topRight(), cell.bottomRight());
      const int inner = FrameWidth + 1;
      const QRect caption(cell.left() + inner, cell.top() + inner + ThumbHeight, ThumbWidth,
                          CaptionHeight);
      painter.setPen(text);
      const QString name = QFile::decodeName(entry.FileName.c_str());
      painter.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                       metrics.elidedText(name, Qt::ElideRight, caption.width()));
      remaining -= cell;
    }
    ++index;
    if (index % columns_ == 0) top += PitchY();
  }
  painter.setClipRegion(remaining);
  painter.fillRect(rect(), colors.color(QPalette::Button));
}

}  // namespace quorvex
