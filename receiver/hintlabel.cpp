#include "receiver/hintlabel.h"

#include <QEvent>
#include <QFont>
#include <QHash>
#include <QLabel>

namespace corvane {

namespace {

// Wrapped text is laid out anew for each width asked, and as a page opens its layouts ask the
// same few widths over and over (Qt's layout item keeps three): the heights are kept per width
// while the text, font and style stay.
class HintLabel : public QLabel
{
public:
    using QLabel::QLabel;

    int heightForWidth(int width) const override
    {
        if (text() != m_text || font() != m_font) {
            m_heights.clear();
            m_text = text();
            m_font = font();
        }
        const auto known = m_heights.constFind(width);
        if (known != m_heights.cend())
            return *known;
        if (m_heights.size() >= MaxWidths)
            m_heights.clear();
        const int height = QLabel::heightForWidth(width);
        m_heights.insert(width, height);
        return height;
    }

protected:
    void changeEvent(QEvent *event) override
    {
        m_heights.clear();
        QLabel::changeEvent(event);
    }

private:
    static constexpr qsizetype MaxWidths = 16;
    mutable QHash<int, int> m_heights;
    mutable QString m_text;
    mutable QFont m_font;
};

} // namespace

QLabel *makeHintLabel(const QString &text, QWidget *parent)
{
    auto *label = new HintLabel(text, parent);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: #5B6675; font-size: 9pt;"));
    return label;
}

} // namespace corvane
