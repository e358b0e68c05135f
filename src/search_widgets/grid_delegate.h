#pragma once
// Paints the result grid's cells. The grid's cells are plain text, so for the
// usual cell this draws what the style's item paint draws (selection fill,
// text in the cell's colour and alignment, elided on the right) itself, with
// each text laid out once per fill: the style measures, elides and lays out
// every text several times over on every paint, which was most of the cost of
// showing a fill or a sort.
// Whatever is not such a plain cell (the focus frame, a disabled grid,
// right-to-left text, another style) goes to QStyledItemDelegate unchanged.

#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QStyledItemDelegate>
#include <array>

namespace morvanta::search {

class ResultModel;

class GridDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  // The layouts made for the model's texts are dropped when it is reset.
  explicit GridDelegate(ResultModel* model, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  // One text as the style would place it in a cell of a given size.
  struct Layout {
    QList<QGlyphRun> runs;  // drawn at origin from the cell's top left
    QPointF origin;
    bool clip = false;      // ink reaches past the cell: paint clipped to it
    bool byStyle = false;   // not a single plain line: the style paints it
  };
  // The layouts of one column, for one cell size.
  struct Column {
    QSize cell;
    QHash<QString, Layout> texts;
  };

  const Layout& layoutFor(const QModelIndex& index, const QString& text,
                          const QStyleOptionViewItem& option) const;
  Layout makeLayout(const QString& text, Qt::Alignment alignment,
                    const QStyleOptionViewItem& option) const;
  bool plainCell(const QStyleOptionViewItem& option) const;
  void dropLayouts() const;

  ResultModel* model_;
  mutable std::vector<Column> columns_;
  mutable QFont font_;             // the font the layouts were made with
  mutable const QStyle* style_ = nullptr;  // the style whose margins they use
};

}  // namespace morvanta::search
