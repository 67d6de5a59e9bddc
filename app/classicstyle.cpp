#include "app/classicstyle.h"

#include <QStyleFactory>

namespace qf {

QStyle *createClassicStyle()
{
    return QStyleFactory::create(QStringLiteral("Windows"));
}

} // namespace qf
