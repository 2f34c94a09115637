#pragma once
#include <QAbstractListModel>

class SendList;

// The rows of the number list straight from the mirror; the view keeps no strings of its own.
class SendListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit SendListModel(SendList &list, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    SendList &m_list;
};
