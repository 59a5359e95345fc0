// The record's movie object: what playback plays of it, made when first asked for and
// released when the record stops playing, and the still images a record may play as the
// frames of one movie.
#include "library/model/PMMovieRepresentation.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "library/model/PMMovie.h"

#include <cstdlib>

std::shared_ptr<class PMMovie> PMMovieRepresentationPrototype::movie()
{
    PMMovieRepresentationOriginal& o = original();
    if (!o.m_movie) {
        PMMovieRepresentationValues values = movieRepresentationValues();
        if (o.m_frameImageMovieRepresentations)
            values.frameImageMovieRepresentations = *o.m_frameImageMovieRepresentations;
        o.m_movie = std::make_shared<class PMMovie>(values);
        o.m_movie->setRotatesNaturalSize(std::abs(values.angle % 180) == 90);
    }
    return o.m_movie;
}

void PMMovieRepresentationPrototype::clearMovie()
{
    PMMovieRepresentationOriginal& o = original();
    PMMovieRepresentationServices& services = PMMovieRepresentationServices::shared();
    if (o.m_frameImageMovieRepresentations) {
        // The frames were chosen for this one playback: the record is a still image again.
        o.setFrameImageMovieRepresentations(nullptr);
        setDuration(0);
        if (services.updatePreviewForMovieRepresentation)
            services.updatePreviewForMovieRepresentation(*this);
        if (services.updateLibraryAfterDelay)
            services.updateLibraryAfterDelay(1.0);
    } else if (o.m_movie && services.savePlaybackPosition) {
        services.savePlaybackPosition(*this);
    }
    o.m_movie.reset();
    clearIndexImageSettings();
}

std::shared_ptr<const PMMovieRepresentationPrototype::FrameImageMovieRepresentations> PMMovieRepresentationPrototype::frameImageMovieRepresentations()
{
    return original().m_frameImageMovieRepresentations;
}

void PMMovieRepresentationOriginal::setFrameImageMovieRepresentations(std::shared_ptr<const FrameImageMovieRepresentations> frames)
{
    m_frameImageMovieRepresentations = std::move(frames);
    if (m_frameImageMovieRepresentations)
        setNumberWithBool(*userSettings(), true, QStringLiteral("Plays Frame Images"));
    else
        userSettings()->remove(QStringLiteral("Plays Frame Images"));
}
