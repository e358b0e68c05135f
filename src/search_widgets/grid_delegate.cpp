#include "search_widgets/grid_delegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QRawFont>
#include <QStyle>
#include <QTextLayout>
#include <QTextOption>
#include <cstring>

#include "search_widgets/result_grid.h"

namespace morvanta::search {

namespace {

const QStyle* StyleOf(const QStyleOptionViewItem& option) {
  return option.widget != nullptr ? option.widget->style() : QApplication::style();
}

// Lays the text out as one cell's text is laid out by the style: the lines of
// the given width one under the other. Returns the number of lines.
int LayOut(QTextLayout& layout, int width) {
  // Keeps the shaped glyphs past endLayout(), for glyphRuns() to read
  // rather than shape the text again.
  layout.setCacheEnabled(true);
  int lines = 0;
  qreal height = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    line.setPosition(QPointF(0, height));
    height += line.height();
    ++lines;
  }
  layout.endLayout();
  return lines;
}

// Where the runs' glyphs put ink, from their origin; a pixel more each way for
// antialiasing and hinting.
QRectF InkOf(const QList<QGlyphRun>& runs) {
  QRectF ink;
  for (const QGlyphRun& run : runs) {
    const QRawFont font = run.rawFont();
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> positions = run.positions();
    for (qsizetype i = 0; i < glyphs.size() && i < positions.size(); ++i) {
      ink |= font.boundingRect(glyphs[i]).translated(positions[i]);
    }
  }
  return ink.adjusted(-1, -1, 1, 1);
}

}  // namespace

GridDelegate::GridDelegate(ResultModel* model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {
  // A fill replaces the rows: their layouts go with them. A sort only
  // reorders rows, and the layouts are found by text, so they stay.
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { dropLayouts(); });
}

void GridDelegate::dropLayouts() const {
  columns_.clear();
}

// The style's item paint for a text cell, in the cases where drawing it here
// gives the same pixels. Only the Fusion style itself (not a style sheet or a
// proxy over it) is known to paint text items this way.
bool GridDelegate::plainCell(const QStyleOptionViewItem& option) const {
  constexpr QStyle::State kNotPlain = QStyle::State_HasFocus | QStyle::State_Editing;
  if (!(option.state & QStyle::State_Enabled) || (option.state & kNotPlain)) return false;
  if (option.widget == nullptr || !option.widget->isEnabled()) return false;
  if (option.direction != Qt::LeftToRight || option.textElideMode != Qt::ElideRight) return false;
  if (option.features & QStyleOptionViewItem::WrapText) return false;
  return std::strcmp(StyleOf(option)->metaObject()->className(), "QFusionStyle") == 0;
}

GridDelegate::Layout GridDelegate::makeLayout(const QString& text, Qt::Alignment alignment,
                                              const QStyleOptionViewItem& option) const {
  Layout out;
  // The text's place in a cell at (0, 0): inside the focus frame's margin,
  // vertically placed by the height of its unelided layout.
  const int margin =
      StyleOf(option)->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1;
  const QRect textRect = QRect(QPoint(0, 0), option.rect.size()).adjusted(margin, 0, -margin, 0);
  QTextOption textOption;
  textOption.setWrapMode(QTextOption::ManualWrap);
  textOption.setTextDirection(option.direction);
  textOption.setAlignment(QStyle::visualAlignment(option.direction, alignment));

  QTextLayout measured(text, option.font);
  measured.setTextOption(textOption);
  // Several lines, a text with length variants, or a row too low to show
  // the line: rare, and the style's own paint handles them.
  if (LayOut(measured, textRect.width()) != 1 || text.contains(QChar(0x9c))) {
    out.byStyle = true;
    return out;
  }
  const QTextLine line = measured.lineAt(0);
  const QRect placed = QStyle::alignedRect(Qt::LayoutDirectionAuto, alignment,
                                           measured.boundingRect().size().toSize(), textRect);
  if (line.height() + placed.top() <= textRect.top()) {
    out.byStyle = true;
    return out;
  }
  out.origin = QPointF(textRect.x(), placed.top());

  if (line.naturalTextWidth() > textRect.width()) {
    // Too wide: elided on the right to the text's width, and laid out anew.
    QTextLayout elided(QFontMetrics(option.font).elidedText(text, Qt::ElideRight, textRect.width()),
                       option.font);
    elided.setTextOption(textOption);
    LayOut(elided, textRect.width());
    out.runs = elided.lineAt(0).glyphRuns();
  } else {
    out.runs = line.glyphRuns();
  }
  const QRectF cell(QPointF(0, 0), QSizeF(option.rect.size()));
  out.clip = !cell.contains(InkOf(out.runs).translated(out.origin));
  return out;
}

const GridDelegate::Layout& GridDelegate::layoutFor(const QModelIndex& index,
                                                    const QString& text,
                                                    const QStyleOptionViewItem& option) const {
  const QStyle* style = StyleOf(option);
  if (style != style_ || option.font != font_) {
    dropLayouts();
    style_ = style;
    font_ = option.font;
  }
  const auto column = static_cast<std::size_t>(index.column());
  if (columns_.size() <= column) columns_.resize(column + 1);
  Column& cached = columns_[column];
  if (cached.cell != option.rect.size()) {
    cached.texts.clear();
    cached.cell = option.rect.size();
  }
  auto found = cached.texts.constFind(text);
  if (found == cached.texts.cend()) {
    const QVariant value = index.data(Qt::TextAlignmentRole);
    const Qt::Alignment alignment =
        value.isValid() ? value.value<Qt::Alignment>() : option.displayAlignment;
    found = cached.texts.emplace(text, makeLayout(text, alignment, option));
  }
  return *found;
}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
  if (index.model() != model_ || !index.isValid() || !plainCell(option)) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  const QString& text = model_->shownText(index);
  const Layout* layout = text.isEmpty() ? nullptr : &layoutFor(index, text, option);
  if (layout != nullptr && layout->byStyle) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }

  const bool selected = option.state.testFlag(QStyle::State_Selected);
  const QPalette::ColorGroup group =
      option.state.testFlag(QStyle::State_Active) ? QPalette::Normal : QPalette::Inactive;
  if (selected) painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
  if (layout == nullptr) return;

  if (layout->clip) {
    painter->save();
    painter->setClipRect(option.rect);
  }
  // The pen is left in the text's colour: what the view paints after the
  // cells (grid lines, drop indicator) sets its own, and setting the pen anew
  // for every cell of a row costs more than the drawing of a short text.
  const QColor& colour =
      option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
  const QPen& pen = painter->pen();
  if (pen.color() != colour || pen.style() == Qt::NoPen || pen.brush().style() != Qt::SolidPattern) {
    painter->setPen(colour);
  }
  const QPointF origin = QPointF(option.rect.topLeft()) + layout->origin;
  for (const QGlyphRun& run : layout->runs) painter->drawGlyphRun(origin, run);
  if (layout->clip) painter->restore();
}

}  // namespace morvanta::search
