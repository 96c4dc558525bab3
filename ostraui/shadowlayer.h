#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QRegion>
#include <QWidget>

class QPainter;

namespace ostra {

class Card;

// One blurred rounded square, stretched as a nine-slice to any shape size.
struct ShadowEntry
{
    QImage image;
    int corner = 0;
    int margin = 0;
    // The image's middle cell is one pixel of one colour and each side repeats one line:
    // painted as a plain fill and as tiles of wide copies, a large shadow stays cheap.
    QColor centre;
    QImage top, bottom, left, right;
};

// Paints the shadows of every card of its container, beneath them, in one pass.
class ShadowLayer : public QWidget
{
    Q_OBJECT
public:
    explicit ShadowLayer(QWidget *container);
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Repaints where the shadow of a card at `card` (in the container) falls: all of the layer
    // would repaint everything above it, the whole page.
    void updateShadowOf(const QRect &card);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // A card as its shadow was last painted.
    struct Shaded
    {
        const Card *card;
        QRect geometry;
        bool lifted;
        bool operator==(const Shaded &other) const
        {
            return card == other.card && geometry == other.geometry && lifted == other.lifted;
        }
    };
    QList<Shaded> shadedCards() const;
    bool hiddenUnderCards(const QRegion &region) const;

    QList<Shaded> m_painted;
};

ShadowLayer *shadowLayerFor(QWidget *container);
void paintShadow(QPainter *painter, const QRectF &shape, double radius, double offsetY, double blur,
                 double spread, const QColor &color);
const ShadowEntry &cachedShadow(int radius, int blur, quint32 rgba);
void gaussianShadow(QImage &image, double sigma);

} // namespace ostra
