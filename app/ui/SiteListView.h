#pragma once

#include <QListView>

namespace folvane::ui {

// The site list's view: one column of rows, rows on light grey with a line under each, the selected row a
// shade darker, white below the last row. A right click on a row selects it and asks for the row menu;
// over empty space no menu is shown.
class SiteListView : public QListView {
    Q_OBJECT
public:
    explicit SiteListView(QWidget* parent = nullptr);

signals:
    void menuRequested(int row, const QPoint& globalPosition);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};

} // namespace folvane::ui
