#pragma once

#include <QString>

// String equality under Unicode canonical equivalence ("é" == "e\u0301").
bool canonicallyEqual(const QString &a, const QString &b);
