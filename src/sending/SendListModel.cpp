#include "sending/SendListModel.h"
#include "sending/SendList.h"

SendListModel::SendListModel(SendList &list, QObject *parent) : QAbstractListModel(parent), m_list(list)
{
    connect(&list, &SendList::aboutToReset, this, [this] { beginResetModel(); });
    connect(&list, &SendList::reset, this, [this] { endResetModel(); });
    connect(&list, &SendList::aboutToInsert, this,
            [this](int row) { beginInsertRows(QModelIndex(), row, row); });
    connect(&list, &SendList::inserted, this, [this] { endInsertRows(); });
}

int SendListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_list.numbers().count();
}

QVariant SendListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_list.numbers().count())
        return QVariant();
    return m_list.numbers().at(index.row());
}
