#include "ui/library_window/PMGroupViewLayout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double kEps = PMGroupViewEpsilon;

double alignToPixels(double v, double scale)
{
    return std::round(v * scale) / scale;
}

QRectF alignRect(const QRectF& r, double scale)
{
    const double left = alignToPixels(r.left(), scale);
    const double top = alignToPixels(r.top(), scale);
    const double right = alignToPixels(r.right(), scale);
    const double bottom = alignToPixels(r.bottom(), scale);
    return QRectF(left, top, right - left, bottom - top);
}

} // namespace

double PMGroupViewSpacingFromStoredValue(double stored)
{
    if (!std::isfinite(stored))
        return 8.0;
    if (stored < -kEps)
        return 8.0;
    return std::round(stored); // half away from zero
}

unsigned numberOfColumnsForWidth(double width, double spacing, double canvasWidth)
{
    const double remainder = std::max(0.0, std::floor(canvasWidth - spacing));
    const double step = width + spacing;
    if (!(step > 0.0) || !std::isfinite(remainder))
        return 1;
    const double columns = std::floor(remainder / step);
    if (!(columns >= 1.0))
        return 1;
    return unsigned(std::min(columns, 1.0e6));
}

bool calculateAspectRatio(const double* ratios, std::size_t count, bool median, bool fallBackToSquare, double* ratio)
{
    std::vector<double> logs;
    logs.reserve(count);
    bool landscape = false, portrait = false;
    for (std::size_t i = 0; i < count; ++i) {
        const double r = ratios[i];
        if (!(r > 0.0) || !std::isfinite(r))
            continue;
        const double l = std::log10(r);
        if (l > 0.02)
            landscape = true;
        else if (l < -0.02)
            portrait = true;
        if (fallBackToSquare && landscape && portrait) {
            *ratio = 1.0;
            return true;
        }
        logs.push_back(l);
    }
    if (logs.empty())
        return false;
    if (logs.size() == 1) {
        *ratio = std::pow(10.0, logs.front());
        return true;
    }
    if (logs.size() >= 3 && median) {
        const std::size_t mid = logs.size() / 2;
        std::nth_element(logs.begin(), logs.begin() + mid, logs.end());
        double m = logs[mid];
        if (logs.size() % 2 == 0) {
            const double below = *std::max_element(logs.begin(), logs.begin() + mid);
            m = (m + below) / 2.0;
        }
        *ratio = std::pow(10.0, m);
        return true;
    }
    const double sum = std::accumulate(logs.begin(), logs.end(), 0.0);
    *ratio = std::pow(10.0, sum / double(logs.size()));
    return true;
}

QRectF PMGroupViewFrameValue::centeredFrame() const
{
    if (rowHeight > frame.height())
        return frame.translated(0, (rowHeight - frame.height()) / 2.0);
    return frame;
}

namespace {

double waterfallColumns(const std::vector<double>& ratios, const PMGroupViewWaterfallInput& in, long* rows,
                        std::vector<PMGroupViewFrameValue>* frames)
{
    const unsigned C = std::max(1u, in.numberOfColumns);
    std::vector<double> heights(C, 0.0);
    std::vector<long> counts(C, 0);
    const double W = in.width, S = in.spacing;
    for (double r : ratios) {
        double h = r > 0.0 ? W / r : W;
        h = std::max(h, in.minimumThumbnailHeight);
        if (in.drawStaticLabels)
            h += PMGroupViewLabelBand;
        unsigned column = 0;
        for (unsigned c = 1; c < C; ++c)
            if (heights[c] < heights[column] - 1.0)
                column = c;
        if (frames)
            frames->push_back({r, h, QRectF(S + column * (W + S), heights[column] + in.verticalOffset, W, h)});
        heights[column] += h + in.innerVerticalSpacing;
        counts[column] += 1;
    }
    if (rows)
        *rows = *std::max_element(counts.begin(), counts.end());
    return *std::max_element(heights.begin(), heights.end()) - in.innerVerticalSpacing;
}

double variableHeightRows(const std::vector<double>& ratios, const PMGroupViewWaterfallInput& in, long* rows,
                          std::vector<PMGroupViewFrameValue>* frames)
{
    const std::size_t C = std::max(1u, in.numberOfColumns);
    const double W = in.width, S = in.spacing;
    double top = in.verticalOffset;
    double bottom = top;
    long rowCount = 0;
    for (std::size_t start = 0; start < ratios.size(); start += C) {
        const std::size_t end = std::min(ratios.size(), start + C);
        double rowHeight = 0;
        const std::size_t first = frames ? frames->size() : 0;
        for (std::size_t i = start; i < end; ++i) {
            const double r = ratios[i];
            double h = (r > 0.0 ? W / r : W) - in.smallDeltaCompensation;
            h = std::max(h, in.minimumThumbnailHeight);
            if (in.drawStaticLabels)
                h += PMGroupViewLabelBand;
            rowHeight = std::max(rowHeight, h);
            if (frames)
                frames->push_back({r, 0, QRectF(S + double(i - start) * (W + S), top, W, h)});
        }
        if (frames)
            for (std::size_t f = first; f < frames->size(); ++f)
                (*frames)[f].rowHeight = rowHeight;
        bottom = top + rowHeight;
        top = bottom + in.innerVerticalSpacing;
        ++rowCount;
    }
    if (rows)
        *rows = rowCount;
    return bottom - in.verticalOffset;
}

double mosaicRows(const std::vector<double>& ratios, const PMGroupViewWaterfallInput& in, long* rows, std::vector<PMGroupViewFrameValue>* frames)
{
    const unsigned C = in.numberOfColumns;
    const double W = in.width, S = in.spacing, A = in.averageAspectRatio > 0 ? in.averageAspectRatio : 1.0;
    const double band = in.drawStaticLabels ? PMGroupViewLabelBand : 0.0;
    const std::size_t n = ratios.size();
    auto effective = [&](std::size_t i) {
        const double r = ratios[i];
        return r > 0.0 ? std::max(r, in.mosaicMinimumAspectRatio) : 1.0;
    };
    double top = in.verticalOffset;
    double bottom = top;
    long rowCount = 0;
    std::size_t i = 0;
    while (i < n) {
        double sum = 0;
        std::size_t j = i;
        if (in.adjustNumberOfColumns) {
            while (j < n) {
                sum += effective(j) / A;
                ++j;
                if (sum > double(C) - kEps)
                    break;
            }
        } else {
            while (j < n && j - i < C) {
                sum += effective(j) / A;
                ++j;
            }
        }
        if (j - i >= 2) {
            const double last = ratios[j - 1] > 0.0 ? effective(j - 1) : 0.0;
            if (sum - double(C) > (last > 0.0 ? last / 2.0 : 0.5)) {
                --j;
                sum -= effective(j) / A;
            }
        }
        const bool lastRow = j >= n;
        long slots = long(C);
        if (lastRow && in.expansionPriority <= 0) {
            if (in.adjustNumberOfColumns) {
                if (top - in.verticalOffset >= in.availableHeight)
                    slots = std::lround(sum);
                else if (in.expansionPriority < 0)
                    slots = long(std::floor(sum));
                else
                    slots = long(std::floor(0.9 * sum));
                slots = std::clamp(slots, 1L, long(C));
            } else {
                slots = long(j - i);
            }
        }
        // Find the row that fits: more slots, or fewer tiles.
        for (;;) {
            const long tiles = long(j - i);
            double ratioSum = 0;
            for (std::size_t k = i; k < j; ++k)
                ratioSum += effective(k);
            const double rowWidth = double(slots) * W + double(slots - tiles) * S;
            double imageHeight = rowWidth / ratioSum - in.smallDeltaCompensation;
            if (lastRow && j >= n && in.expansionPriority == 0 && slots < long(C)) {
                const double remaining = in.availableHeight - (top - in.verticalOffset) - band;
                if (imageHeight < remaining) {
                    const double fullRow = (double(C) * W + double(long(C) - tiles) * S) / ratioSum - in.smallDeltaCompensation;
                    imageHeight = std::max(imageHeight, std::min(remaining, fullRow));
                }
            }
            bool wideEnough = imageHeight >= in.minimumThumbnailHeight;
            for (std::size_t k = i; k < j && wideEnough; ++k)
                wideEnough = imageHeight * effective(k) >= PMGroupViewMinimumThumbnailWidth;
            if (wideEnough) {
                double x = S;
                for (std::size_t k = i; k < j; ++k) {
                    const double w = imageHeight * effective(k);
                    if (frames)
                        frames->push_back({ratios[k], imageHeight + band, QRectF(x, top, w, imageHeight + band)});
                    x += w + S;
                }
                bottom = top + imageHeight + band;
                i = j;
                break;
            }
            if (slots < long(C)) {
                ++slots;
                continue;
            }
            if (tiles >= 2) {
                --j;
                continue;
            }
            const double r = ratios[i];
            const double h = std::max(r > 0.0 ? W / r : W, in.minimumThumbnailHeight) + band;
            if (frames)
                frames->push_back({r, h, QRectF(S, top, W, h)});
            bottom = top + h;
            i = j;
            break;
        }
        top = bottom + in.innerVerticalSpacing;
        ++rowCount;
    }
    if (rows)
        *rows = rowCount;
    return bottom - in.verticalOffset;
}

} // namespace

double calculateMovieWaterfallHeightWithNumberOfColumns(const std::vector<double>& ratios, const PMGroupViewWaterfallInput& input, long* rows,
                                                std::vector<PMGroupViewFrameValue>* frames)
{
    if (rows)
        *rows = 0;
    if (ratios.empty())
        return 0.0;
    if (frames)
        frames->reserve(frames->size() + ratios.size());
    if (!input.separateRows)
        return waterfallColumns(ratios, input, rows, frames);
    if (input.viaHeightFit && input.numberOfColumns >= 2)
        return mosaicRows(ratios, input, rows, frames);
    return variableHeightRows(ratios, input, rows, frames);
}

PMGroupViewLayoutResult PMGroupViewLayout(const PMGroupViewLayoutInput& in)
{
    PMGroupViewLayoutResult out;
    const std::size_t movies = in.movieRatios.size();
    const std::size_t groups = in.subgroupCount;
    unsigned layout = in.layout;
    if (in.coverMode && in.coverOverlayAlpha >= kEps)
        layout = 0;
    if (movies == 0)
        layout = 0;
    out.layout = layout;
    const bool waterfall = PMIsWaterfallLayout(layout);
    const bool variable = PMIsVariableHeightLayout(layout);
    const bool mosaic = PMIsMosaicLayout(layout);
    const double band = in.staticLabels ? PMGroupViewLabelBand : 0.0;
    const double minH = in.staticLabels ? 22.0 : 44.0;
    out.minimumThumbnailHeight = minH;
    const int expansion = mosaic ? in.expansionPriority : -1;
    const bool balance = mosaic && in.balanceRowHeight;

    // Metrics
    const double S = in.spacing;
    const bool glass = S < 8.0 && in.adjustsSpacingForGlass;
    const double inset = glass ? 8.0 - S : 0.0;
    double topAdjustment = inset;
    if (in.adjustsSpacingForGlass && !in.hasScopeBar)
        topAdjustment -= std::min(S, 8.0);
    const double separatorInset = (groups && movies) ? inset : 0.0;
    const double VS = in.labelsOverlay ? S : 1.2 * S;
    const double CW = in.canvas.width() - 2.0 * inset;
    const double P = inset + 2.0 * separatorInset + topAdjustment;
    const double AH = in.canvas.height() - P;
    double W = in.baseWidth;

    const double* ratios = in.movieRatios.data();
    double A = 1.0;
    unsigned C = numberOfColumnsForWidth(W, S, CW);
    double H = 0;
    PMGroupViewWaterfallInput wf;
    wf.separateRows = variable;
    wf.viaHeightFit = mosaic;
    wf.adjustNumberOfColumns = balance;
    wf.spacing = S;
    wf.innerVerticalSpacing = VS;
    wf.expansionPriority = expansion;
    wf.drawStaticLabels = in.staticLabels;
    wf.minimumThumbnailHeight = minH;
    wf.mosaicMinimumAspectRatio = in.mosaicMinimumAspectRatio;
    auto computeRatio = [&](double* ratio) {
        if (in.computedAspectRatio.valid) {
            if (in.computedAspectRatio.found)
                *ratio = in.computedAspectRatio.ratio;
            return in.computedAspectRatio.found;
        }
        return calculateAspectRatio(ratios, movies, layout & PMLayoutMedian, in.fallBackToSquare, ratio);
    };
    auto subgroupBlock = [&](unsigned columns) {
        if (!groups)
            return 0.0;
        const double R = std::ceil(double(groups) / double(columns));
        return R * (S + PMGroupViewLabelBand) + S + 1.0;
    };
    auto waterfallHeight = [&](unsigned columns, double width, double available, double delta, long* rows) {
        wf.numberOfColumns = columns;
        wf.width = width;
        wf.availableHeight = available;
        wf.smallDeltaCompensation = delta;
        wf.averageAspectRatio = A;
        wf.verticalOffset = 0;
        return calculateMovieWaterfallHeightWithNumberOfColumns(in.movieRatios, wf, rows, nullptr);
    };

    if (!waterfall) {
        A = in.coverMode ? 1.0 / (in.coverAspectRatio > 0 ? in.coverAspectRatio : 1.46) : in.previewAspectRatio;
        if (layout & PMLayoutComputedAspectRatio)
            computeRatio(&A);
        H = std::max(W / A, minH) + band;
    } else {
        double computed = 1.0;
        if (balance && computeRatio(&computed))
            A = std::sqrt(computed);
        const double available = AH - 0.001 - 2.0 * S - subgroupBlock(C);
        H = waterfallHeight(C, W, available, 0, nullptr);
    }
    double delta = 0;

    // Size adjustment
    if (in.adjust && in.adjustSize >= 1 && CW > W + 2.0 * S) {
        long M = in.adjustSize;
        if (!movies || !in.fullyInteractive)
            M = 1;
        const double T = (!waterfall || mosaic) ? in.deltaCompensationThreshold : -1.0;
        double currentWidth = W;
        const unsigned first = C;
        for (unsigned count = first; count >= 1; --count) {
            const double G = groups ? subgroupBlock(count) - (movies ? 0.0 : 1.0) : 0.0;
            const double w = (CW - S - 0.001) / double(count) - S;
            if (w <= 0)
                break;
            double h = 0, movieBlock = 0;
            long rows = 0;
            const double availableMovies = AH - 0.001 - 2.0 * S - G;
            if (!waterfall) {
                h = std::max(w / A, minH) + band;
                rows = long(std::ceil(double(movies) / double(count)));
                movieBlock = movies ? double(rows) * (VS + h) + 2.0 * S - VS : 0.0;
            } else {
                h = waterfallHeight(count, w, availableMovies, 0, &rows);
                movieBlock = h + 2.0 * S;
            }
            auto adopt = [&](double width, double height, double d) {
                C = count;
                W = width;
                H = height;
                delta = d;
            };
            if (count == first) {
                adopt(w, h, 0);
                currentWidth = w;
            }
            const double overflow = G + movieBlock - (AH - 0.001);
            const bool goOn = long(count) > M && (expansion > 0 || (expansion == 0 ? overflow < kEps : overflow < 0));
            bool adopted = false;
            if (T > 0 && std::abs(overflow) < T * std::max(double(rows), S) && movies) {
                if (!waterfall) {
                    double fit = availableMovies;
                    if (rows >= 2)
                        fit = (VS + fit) / double(rows) - VS;
                    if (fit - band >= minH) {
                        adopt(w, fit, 0);
                        adopted = true;
                    } else {
                        break;
                    }
                } else if (mosaic && rows > 0) {
                    const double d = overflow / double(rows);
                    const double fitted = waterfallHeight(count, w, availableMovies, d, nullptr);
                    if (std::abs(fitted + 2.0 * S + G - (AH - 0.001)) < kEps || overflow < kEps) {
                        adopt(w, fitted, d);
                        adopted = true;
                    }
                }
            }
            if (!adopted && overflow < kEps) {
                adopt(w, h, 0);
            } else if (!adopted) {
                if (!movies)
                    break;
                const long groupRows = groups ? long(std::ceil(double(groups) / double(count))) : 0;
                if (M == 1 && ((rows == 1 && groupRows <= 1) || !in.heightFitSingleRowOnly)) {
                    if (!waterfall) {
                        double fit = availableMovies;
                        if (rows >= 2)
                            fit = (VS + fit) / double(rows) - VS;
                        const double image = fit - band;
                        if (image < minH || image * A <= currentWidth + 1.5)
                            break;
                        adopt(image * A, fit, 0);
                    } else {
                        const double used = h - double(rows) * band - double(std::max(0L, rows - 1)) * VS;
                        const double avail = availableMovies - double(rows) * band - double(std::max(0L, rows - 1)) * VS;
                        const double scaled = used > 0 ? w * avail / used : w;
                        if (scaled > currentWidth + 1.5) {
                            const double height = waterfallHeight(count, scaled, availableMovies, 0, nullptr);
                            if (mosaic && count >= 2) {
                                if (height + 2.0 * S + G - (AH - 0.001) < kEps)
                                    adopt(scaled, height, 0);
                            } else if (scaled / std::max(A, kEps) >= minH) {
                                adopt(scaled, height, 0);
                            }
                        }
                    }
                }
            }
            if (!goOn)
                break;
        }
    }
    out.numberOfColumns = C;
    out.tileWidth = W;
    out.tileHeight = H;
    out.aspectRatio = A;
    out.smallDelta = delta;
    if (in.columnsOnly)
        return out;

    // Combined height
    const double R = groups ? std::ceil(double(groups) / double(C)) : 0.0;
    double combined = 0;
    if (groups)
        combined += R * (S + PMGroupViewLabelBand) + S + (movies ? 1.0 : 0.0);
    if (movies) {
        if (!waterfall)
            combined += std::ceil(double(movies) / double(C)) * (VS + H) + 2.0 * S - VS;
        else
            combined += H + 2.0 * S;
    }
    combined += P;
    out.combinedHeight = combined;
    out.viewSize = QSizeF(in.canvas.width(), std::max(combined, in.canvas.height()));

    // Placement
    const double scale = std::max(1.0, in.backingScale);
    double y = S + topAdjustment;
    auto placeGrid = [&](std::size_t count, double width, double height, double rowSpacing, long threshold, std::vector<QRectF>& frames) {
        frames.resize(count);
        const std::size_t columns = std::max(1u, C);
        bool columnMajor = false;
        std::size_t rowsPerColumn = 0;
        if (columns >= 2 && count > columns && threshold >= 0) {
            rowsPerColumn = (count + columns - 1) / columns;
            columnMajor = long(rowsPerColumn) > threshold;
        }
        const double x0 = S + inset;
        std::size_t lastRow = 0;
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t row, column;
            if (columnMajor) {
                column = i / rowsPerColumn;
                row = i % rowsPerColumn;
            } else {
                row = i / columns;
                column = i % columns;
            }
            lastRow = std::max(lastRow, row);
            frames[i] = alignRect(QRectF(x0 + double(column) * (width + S), y + double(row) * (height + rowSpacing), width, height), scale);
        }
        if (count)
            y += double(lastRow) * (height + rowSpacing);
    };
    auto placeGroups = [&] {
        double width = W;
        if (mosaic && (balance || expansion >= 0) && groups < C)
            width = (CW - S - 0.001) / double(groups) - S;
        placeGrid(groups, width, PMGroupViewLabelBand, S, in.subgroupColumnThreshold, out.subgroupFrames);
    };
    double movieBlockHeight = H;
    auto placeMovies = [&] {
        if (!waterfall) {
            placeGrid(movies, W, H, VS, in.movieColumnThreshold, out.movieFrames);
            return;
        }
        std::vector<PMGroupViewFrameValue> values;
        wf.numberOfColumns = C;
        wf.width = W;
        wf.availableHeight = H;
        wf.smallDeltaCompensation = delta;
        wf.averageAspectRatio = A;
        wf.verticalOffset = y;
        movieBlockHeight = calculateMovieWaterfallHeightWithNumberOfColumns(in.movieRatios, wf, nullptr, &values);
        out.movieFrames.resize(values.size());
        const bool centre = variable && !mosaic && in.centerVertically;
        for (std::size_t i = 0; i < values.size(); ++i)
            out.movieFrames[i] = alignRect((centre ? values[i].centeredFrame() : values[i].frame).translated(inset, 0), scale);
    };
    if (in.subgroupPosition == 1) {
        if (movies)
            placeMovies();
        if (movies && groups) {
            y += S + (waterfall ? movieBlockHeight : H) + separatorInset;
            out.separatorY = y;
            y += S + separatorInset + 1.0;
        }
        if (groups)
            placeGroups();
    } else {
        if (groups)
            placeGroups();
        if (movies && groups) {
            y += S + PMGroupViewLabelBand + separatorInset;
            out.separatorY = y;
            y += S + separatorInset + 1.0;
        }
        if (movies)
            placeMovies();
    }
    return out;
}

void PMGroupViewVisibleIndex::rebuild(const std::vector<QRectF>& frames)
{
    m_copy = frames;
    m_frames = &m_copy;
    const std::size_t n = frames.size();
    m_order.resize(n);
    std::iota(m_order.begin(), m_order.end(), 0u);
    bool sorted = true;
    for (std::size_t i = 1; i < n && sorted; ++i)
        sorted = frames[i].top() >= frames[i - 1].top();
    if (!sorted)
        std::stable_sort(m_order.begin(), m_order.end(), [&](std::uint32_t a, std::uint32_t b) { return frames[a].top() < frames[b].top(); });
    m_tops.resize(n);
    m_maxBottoms.resize(n);
    double lowest = -1e300;
    for (std::size_t i = 0; i < n; ++i) {
        const QRectF& f = frames[m_order[i]];
        m_tops[i] = f.top();
        lowest = std::max(lowest, f.bottom());
        m_maxBottoms[i] = lowest;
    }
}

void PMGroupViewVisibleIndex::tilesInRect(const QRectF& rect, std::vector<std::uint32_t>& out) const
{
    out.clear();
    if (m_order.empty() || !m_frames)
        return;
    // The first tile whose running lowest bottom reaches below the rectangle's top, up to
    // the first whose top lies under its bottom.
    const auto begin = std::upper_bound(m_maxBottoms.begin(), m_maxBottoms.end(), rect.top()) - m_maxBottoms.begin();
    const auto end = std::lower_bound(m_tops.begin(), m_tops.end(), rect.bottom()) - m_tops.begin();
    for (auto i = begin; i < end; ++i) {
        const std::uint32_t index = m_order[std::size_t(i)];
        if ((*m_frames)[index].intersects(rect))
            out.push_back(index);
    }
    std::sort(out.begin(), out.end());
}
