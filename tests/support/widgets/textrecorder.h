#pragma once

#include <QPaintDevice>
#include <QPaintEngine>
#include <QStringList>
#include <QWidget>

namespace ostratest {

// A paint device that keeps the texts drawn on it, one entry per line as drawn, and draws
// nothing else: what a widget really shows of a text (cut, elided or whole) without reading pixels.
class TextRecorder : public QPaintDevice
{
public:
    explicit TextRecorder(const QSize &size) : m_size(size) {}
    QPaintEngine *paintEngine() const override { return &m_engine; }
    QStringList texts() const { return m_engine.texts; }
    // The font family each text was drawn in, in the same order.
    QStringList families() const { return m_engine.families; }

    // The texts `widget` paints, children included.
    static QStringList paintedBy(QWidget *widget)
    {
        TextRecorder recorder(widget->size());
        widget->render(&recorder);
        return recorder.texts();
    }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth: return m_size.width();
        case PdmHeight: return m_size.height();
        case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
        case PdmDepth: return 32;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(devicePixelRatioFScale());
        default: return 0;
        }
    }

private:
    struct Engine : QPaintEngine
    {
        Engine() : QPaintEngine(AllFeatures) {}
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState &) override {}
        void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
        void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
        void drawPath(const QPainterPath &) override {}
        void drawTextItem(const QPointF &, const QTextItem &item) override
        {
            texts << item.text();
            families << item.font().family();
        }
        Type type() const override { return User; }
        QStringList texts;
        QStringList families;
    };
    QSize m_size;
    mutable Engine m_engine;
};

} // namespace ostratest
