#include "app/classicstyle.h"

#include <QStyleFactory>

QStyle *createClassicStyle()
{
    return QStyleFactory::create(QStringLiteral("Windows"));
}
