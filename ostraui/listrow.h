#pragma once

#include "ostraui/hoverbutton.h"

namespace ostra {

// A clickable row: title, optional subtitle, optional trailing text and a chevron.
class ListRow : public HoverButton
{
    Q_OBJECT
public:
    explicit ListRow(const QString &title, QWidget *parent = nullptr);

    QString subtitle() const { return m_subtitle; }
    QString trailingText() const { return m_trailing; }
    void setSubtitle(const QString &subtitle);
    void setTrailingText(const QString &text);
    void setShowChevron(bool show);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_subtitle;
    QString m_trailing;
    bool m_showChevron = true;
};

} // namespace ostra
