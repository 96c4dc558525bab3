// Headers precompiled once per target: the Qt headers most of our sources include. Only the
// modules the target links are taken, so libraries without widgets see no widget header.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#ifdef QT_GUI_LIB
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#endif

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QWidget>
#endif

#ifdef QT_TESTLIB_LIB
#include <QSignalSpy>
#include <QTest>
#endif
