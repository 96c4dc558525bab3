#pragma once

#include <QWidget>

class QTimer;
class QVariantAnimation;

namespace ostra {

// The short message bubble at the bottom of a window; one per window, reused.
class Toast : public QWidget
{
    Q_OBJECT
public:
    explicit Toast(QWidget *window);

    QString text() const { return m_text; }
    double opacity() const { return m_opacity; }
    void showMessage(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void setOpacity(double opacity);
    void fadeOut();

    QString m_text;
    double m_opacity = 0;
    QVariantAnimation *m_fade;
    QTimer *m_hideTimer;
};

// Shows the text in the toast of the widget's window, creating the toast on first use.
void showToast(QWidget *widget, const QString &text);

} // namespace ostra
