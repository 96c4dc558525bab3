#pragma once

#include <QFrame>
#include <QList>

class QLabel;
class QVariantAnimation;

namespace ostra {

class Highlight;
class NavButton;

// The collapsible navigation column on the window's left edge.
class Sidebar : public QFrame
{
    Q_OBJECT
public:
    explicit Sidebar(const QString &versionText, QWidget *parent = nullptr);

    int currentIndex() const { return m_current; }
    bool isCollapsed() const { return m_collapsed; }

    // A negative index marks Info as current.
    void setCurrentIndex(int index, bool animated);
    void setItemIndicator(int index, bool on);
    void setCollapsed(bool collapsed, bool animated);
    void moveHighlight(bool animated);

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void navigate(int index);
    void infoRequested();
    void themeToggleRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void onCollapseFinished();
    QList<NavButton *> allEntries() const;

    QList<NavButton *> m_items;
    NavButton *m_info;
    NavButton *m_themeToggle;
    QWidget *m_navContainer;
    Highlight *m_highlight;
    QLabel *m_logo;
    QLabel *m_mark;
    QLabel *m_wordmark;
    QLabel *m_versionLabel;
    int m_current = 0;
    bool m_collapsed = false;
    QVariantAnimation *m_highlightAnimation;
    QVariantAnimation *m_widthAnimation;
};

} // namespace ostra
