#pragma once

class QNetworkAccessManager;

// The process-wide network access manager that every HTTP client of the program shares (one
// connection pool, one cookie and proxy setup): created on the main thread at first use and
// never destroyed, as QObjects must not outlive the application object.
QNetworkAccessManager &sharedNetworkAccess();
