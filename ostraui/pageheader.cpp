#include "ostraui/pageheader.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ostraui/theme.h"

namespace ostra {

PageHeader::PageHeader(QWidget *parent)
    : QWidget(parent)
    , m_backButton(new QPushButton(this))
    , m_titleLabel(new QLabel(this))
    , m_actionsRow(new QHBoxLayout)
{
    m_backButton->setProperty("back", true);
    m_backButton->setCursor(Qt::PointingHandCursor);
    m_backButton->hide();
    connect(m_backButton, &QPushButton::clicked, this, &PageHeader::backClicked);

    QFont font = uiFont(28, 600);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.7);
    m_titleLabel->setFont(font);
    m_titleLabel->setStyleSheet(QStringLiteral("color: %1;").arg(colorHex(ThemeColors::ink)));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 18, 8, 22);
    layout->setSpacing(20);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(6);
    titles->addWidget(m_backButton, 0, Qt::AlignLeft);
    titles->addWidget(m_titleLabel);
    layout->addLayout(titles);
    layout->addStretch(1);
    m_actionsRow->setSpacing(10);
    layout->addLayout(m_actionsRow);
    layout->setAlignment(m_actionsRow, Qt::AlignBottom);
}

void PageHeader::setTitle(const QString &text)
{
    m_titleLabel->setText(text);
}

void PageHeader::setBackText(const QString &text)
{
    if (text.isEmpty()) {
        m_backButton->setText(QString());
        m_backButton->hide();
        return;
    }
    m_backButton->setText(QStringLiteral("\u2190  ") + text);
    m_backButton->show();
}

} // namespace ostra
