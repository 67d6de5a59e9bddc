#include "app/classicstyle.h"

#include <QProxyStyle>
#include <QStyleFactory>

namespace {

class ClassicStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        // The classic grid draws a header cell's text one pixel inside its
        // bevel; the default margin would clip it in a row one line high.
        if (metric == PM_HeaderMargin)
            return 1;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

} // namespace

QStyle *createClassicStyle()
{
    QStyle *windows = QStyleFactory::create(QStringLiteral("Windows"));
    return windows ? new ClassicStyle(windows) : nullptr;
}
