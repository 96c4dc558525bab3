#pragma once

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;

namespace ostra {

// The title row above the pages, with an optional back link and a row for page actions.
class PageHeader : public QWidget
{
    Q_OBJECT
public:
    explicit PageHeader(QWidget *parent = nullptr);

    void setTitle(const QString &text);
    // An empty text removes the back link.
    void setBackText(const QString &text);
    // The owner places its page actions here, at the right end.
    QHBoxLayout *actionsRow() const { return m_actionsRow; }

signals:
    void backClicked();

private:
    QPushButton *m_backButton;
    QLabel *m_titleLabel;
    QHBoxLayout *m_actionsRow;
};

} // namespace ostra
