// The controller log card.
#include "motion/pages/motionsystemwidget.h"

#include "ostraui/card.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QVBoxLayout>

namespace corvane {

namespace {

constexpr int LogLineLimit = 300;

} // namespace

QWidget *MotionSystemWidget::buildLogCard()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(ostra::makeRoleLabel(tr("Controller log"), "h2", card));
    m_logCountPill = new ostra::Pill(card);
    m_logCountPill->setObjectName(QStringLiteral("logCountPill"));
    m_logCountPill->setDotVisible(false);
    m_logCountPill->setHeight(22);
    m_logCountPill->setText(QStringLiteral("0"));
    header->addWidget(m_logCountPill);
    header->addStretch(1);
    auto *clear = new QPushButton(tr("Clear"), card);
    clear->setObjectName(QStringLiteral("clearLogButton"));
    clear->setProperty("link", true);
    clear->setCursor(Qt::PointingHandCursor);
    clear->setToolTip(tr("Empty the log"));
    header->addWidget(clear);
    auto *show = new QPushButton(tr("Show"), card);
    show->setObjectName(QStringLiteral("showLogButton"));
    show->setProperty("link", true);
    show->setCursor(Qt::PointingHandCursor);
    header->addWidget(show);
    content->addLayout(header);

    m_logView = new QTextEdit(card);
    m_logView->setObjectName(QStringLiteral("logView"));
    m_logView->setReadOnly(true);
    m_logView->setProperty("log", true);
    m_logView->setFixedHeight(260);
    m_logView->hide();
    content->addWidget(m_logView);

    connect(clear, &QPushButton::clicked, this, [this] {
        m_logView->clear();
        m_logLines = 0;
        m_logCountPill->setText(QStringLiteral("0"));
    });
    connect(show, &QPushButton::clicked, this, [this, show] {
        const bool visible = m_logView->isVisible();
        m_logView->setVisible(!visible);
        show->setText(visible ? tr("Show") : tr("Hide"));
    });
    return card;
}

void MotionSystemWidget::appendLog(const QString &text)
{
    using namespace ostra;
    const QString lower = text.toLower();
    QColor dot = ThemeColors::textMuted;
    if (text.startsWith(QLatin1Char('!')) || lower.contains(QLatin1String("fail")) || lower.contains(QLatin1String("error")))
        dot = levelAccentColor(LevelDanger);
    else if (lower.contains(QLatin1String("released")) || lower.contains(QLatin1String("homing")))
        dot = levelAccentColor(LevelWarning);
    else if (lower.contains(QLatin1String("saved")) || lower.contains(QLatin1String("started"))
             || lower.contains(QLatin1String("ready")) || lower.contains(QLatin1String("done")))
        dot = levelAccentColor(LevelSuccess);
    const QString entry =
        QStringLiteral("<table cellspacing='0' cellpadding='0'><tr><td style='color:%1; padding-right:10px;'>%2</td>"
                       "<td style='color:%3; padding-right:8px;'>&#9679;</td><td style='color:%4;'>%5</td></tr></table>")
            .arg(colorHex(ThemeColors::textMuted), QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")),
                 colorHex(dot), colorHex(ThemeColors::ink), text.toHtmlEscaped());
    QTextDocument *document = m_logView->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    cursor.insertHtml(entry);
    cursor.insertBlock();
    if (++m_logLines > LogLineLimit) {
        // Each line is one table; the oldest is the last one in the document.
        const QList<QTextFrame *> lines = document->rootFrame()->childFrames();
        if (!lines.isEmpty()) {
            QTextCursor oldest(document);
            oldest.setPosition(lines.last()->firstPosition() - 1);
            oldest.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            oldest.removeSelectedText();
        }
        m_logLines = LogLineLimit;
    }
    m_logCountPill->setText(QString::number(m_logLines));
}

} // namespace corvane
