#pragma once
// What the list windows share: report-style lists with fixed column widths, headers centred
// except the last one where asked, full-row selection.

#include <QHeaderView>
#include <QTreeWidget>
#include <initializer_list>
#include <utility>

namespace fsv::ui {

inline void setColumns(QTreeWidget* list, std::initializer_list<std::pair<const char*, int>> cols,
                       bool lastLeft) {
    QStringList names;
    for (auto& c : cols) names << QString::fromUtf8(c.first);
    list->setColumnCount(static_cast<int>(cols.size()));
    list->setHeaderLabels(names);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->header()->setStretchLastSection(false);
    list->header()->setDefaultAlignment(Qt::AlignCenter);
    int i = 0;
    for (auto& c : cols) list->setColumnWidth(i++, c.second);
    if (lastLeft) {
        auto* item = list->headerItem();
        item->setTextAlignment(i - 1, Qt::AlignLeft | Qt::AlignVCenter);
    }
}

}  // namespace fsv::ui
