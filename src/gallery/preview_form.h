#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/services.h"

class QAction;
class QMenu;
class QScrollBar;

namespace quorvex {

class TBitmap;

// One picture of the grid: its name as the listing gave it and its
// thumbnail, with the display copy made once when the thumbnail is made.
struct TFileEntry {
  std::string FileName;
  std::unique_ptr<TBitmap> Thumbnail;
  QImage Image;
};

inline constexpr const char* kPreviewCaption = "Previews";
inline constexpr const char* kBrowseFolderTitle = "Select folder to browse";

// The size of a thumbnail for a source picture: the source size when it
// fits into the 100 by 100 box, otherwise the longer side becomes 100 and
// the other is scaled, halves going to the even neighbour.
void ThumbnailSize(int32_t width, int32_t height, int32_t& thumbWidth, int32_t& thumbHeight);
// Makes target a thumbnail of source: an exact copy when it fits, otherwise
// a Bits24 bitmap onto which the source is stretched without averaging
// (rows and columns are dropped or repeated).
void MakeThumbnail(const TBitmap& source, TBitmap& target);
// The same stretch to a size given.
void StretchThumbnail(const TBitmap& source, TBitmap& target, int32_t thumbWidth,
                      int32_t thumbHeight);
// "Previews    (N images loaded)".
QString FinalCaption(int loaded);

// The gallery: a scrollable grid of the thumbnails of every picture in one
// folder, for looking only. F3 shows another folder.
class TPreviewForm : public QDialog {
  Q_OBJECT
 public:
  // treeFolder gives the folder the main window's tree shows.
  TPreviewForm(TServices services, std::function<std::string()> treeFolder,
               QWidget* parent = nullptr);
  ~TPreviewForm() override;

  // Where failures outside the per-file guard go; stderr without one.
  void SetErrorReport(std::function<void(const std::exception&)> report) {
    errorReport_ = std::move(report);
  }

  // Layout constants.
  int FrameWidth = 0;
  int CellSpacing = 0;
  int CaptionHeight = 0;
  int ThumbWidth = 0;
  int ThumbHeight = 0;
  static constexpr int kClientWidth = 515;
  static constexpr int kClientHeight = 411;
  static constexpr int kScrollBarWidth = 16;
  static constexpr int kTopMargin = 5;
  static constexpr int kRangeAllowance = 150;
  int CellWidth() const { return ThumbWidth + 2 * (FrameWidth + 1); }
  int CellHeight() const { return ThumbHeight + 2 * (FrameWidth + 1) + CaptionHeight; }
  int PitchX() const { return CellWidth() + CellSpacing; }
  int PitchY() const { return CellHeight() + CellSpacing; }

  const std::vector<std::unique_ptr<TFileEntry>>& Entries() const { return Entries_; }
  const std::string& Folder() const { return Folder_; }
  void SetFolder(const std::string& folder) { Folder_ = folder; }

  // The width of the area the grid is painted in: narrower by the scroll
  // bar while it shows.
  int ClientWidth() const;
  int Columns() const { return columns_; }
  int FirstVisibleRow() const { return firstVisibleRow_; }
  int ScrollRange() const { return scrollRange_; }
  int ScrollPosition() const;
  void SetScrollPosition(int position);
  // The cell rectangle of entry i at the current scroll position.
  QRect CellRect(int index) const;
  // The rectangle the thumbnail of entry i is drawn in.
  QRect ThumbnailRect(int index) const;

  void ComputeLayout();
  void UpdateScrollRange();
  void LoadFolder();
  void ClearEntries();
  // The platform's folder chooser; true with the chosen folder, false when
  // cancelled.
  bool BrowseForFolder(const QString& title, const std::string& initialFolder, std::string& chosen);

  QMenu* Browsefolder1;
  QAction* Action1;  // "Browse folder...", F3
  QAction* Exit1;
  QScrollBar* VertScrollBar;

 protected:
  // Names cut short under their thumbnails show whole in a tip.
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FormPaint(QPainter& painter);
  void FormResize();
  void Action1Execute();
  void Exit1Click();
  void PlaceScrollBar();
  void ReportFailure(const std::exception& error);

  TServices services_;
  std::function<std::string()> treeFolder_;
  std::function<void(const std::exception&)> errorReport_;
  std::vector<std::unique_ptr<TFileEntry>> Entries_;
  std::string Folder_;
  int columns_ = 1;
  int firstVisibleRow_ = 0;
  int scrollRange_ = 0;
  bool loading_ = false;
};

}  // namespace quorvex
