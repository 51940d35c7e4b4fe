#include "SiteListView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QStyledItemDelegate>

namespace folvane::ui {

namespace {

constexpr int rowHeight = 54;

// Each row's content is its row widget; the list itself draws only the row's background and line.
class RowBackgroundDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        background.features &= ~QStyleOptionViewItem::HasDisplay;
        background.state &= ~QStyle::State_HasFocus;
        const QWidget* view = option.widget;
        (view ? view->style() : QApplication::style())
            ->drawControl(QStyle::CE_ItemViewItem, &background, painter, view);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), rowHeight};
    }
};

} // namespace

SiteListView::SiteListView(QWidget* parent) : QListView(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(new RowBackgroundDelegate(this));
    // Rows grey 0.941, the selected row grey 0.898, the area below the last row white; a line under each row.
    setStyleSheet(QStringLiteral(
        "QListView { background: #ffffff; outline: 0; }"
        "QListView::item { background: #f0f0f0; border-bottom: 1px solid #dcdcdc; color: #202020; }"
        "QListView::item:selected { background: #e5e5e5; color: #202020; }"));
}

void SiteListView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    // The scroll area hands the viewport's event on unchanged: the position is the viewport's.
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    emit menuRequested(index.row(), event->globalPos());
}

} // namespace folvane::ui
