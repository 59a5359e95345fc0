// A parsed search text. The query language grows with the search; the containers need
// only the filter identifier components of a query (a series prefix ends in ":").
#pragma once

#include <QtCore/QStringList>

class PMParsedQuery {
public:
    virtual ~PMParsedQuery() = default;
    QStringList filterIdentifierComponents;
};
