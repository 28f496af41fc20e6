#pragma once

#include <QByteArray>
#include <QJsonObject>

// The API's self-description: an OpenAPI 3.1.0 document and an HTML page that shows it with
// Swagger UI. Both name the port the server listens on.
namespace openapi {

QJsonObject document(quint16 port);

// The docs page, with the Swagger UI style sheet and script carried inline so it works offline
// and needs no routes of its own.
QByteArray docsPage(quint16 port);

// Makes a text safe to embed in a <script> or <style> element: "</script" and "</style" would
// end the element early; "<\/" means the same inside scripts and style sheets.
QByteArray escapeForInlineElement(QByteArray text);

} // namespace openapi
