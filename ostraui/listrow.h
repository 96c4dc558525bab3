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
    // A value reads best in the monospaced face; a word such as "Update" in the text face.
    void setTrailingText(const QString &text, bool monospace = true);
    void setShowChevron(bool show);

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int textWidth(int width) const;
    QFont trailingFont() const;

    QString m_subtitle;
    QString m_trailing;
    bool m_trailingMono = true;
    bool m_showChevron = true;
};

} // namespace ostra
