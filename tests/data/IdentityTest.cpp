// Photos of the generic head itself must give the generic head back. These tests take orthographic
// front and side photos of it from the feature points the tool wrote, run the measurement and the
// deformation of the reconstruction and the global texture fit on them exactly as the program does,
// and check that the head hardly moves and that the fit keeps the layout's scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "collada/Colladaasset.h"
#include "platform/base/Numbers.h"
#include "platform/xml/Xmldocument.h"
#include "tools/genhead/Generic.h"

namespace {
struct Pt {
    int x, y;
};

// Notional photos: 60 pixels a unit, the front view (x, -z) and the side view from +x (y, -z).
constexpr double kScale = 60;
struct Photos {
    std::vector<Pt> front, profile;
};

Photos ReadPhotos() {
    Photos p;
    std::ifstream in("data/models/head_features.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream l(line);
        std::string set, t[5];
        int index;
        l >> set >> index >> t[0] >> t[1] >> t[2] >> t[3] >> t[4];
        double vx = ParseDouble(t[3]).value_or(0), vy = ParseDouble(t[4]).value_or(0);
        if (set == "front")
            p.front.push_back({RoundHalfEven(512 + kScale * vx), RoundHalfEven(512 + kScale * vy)});
        else
            p.profile.push_back({RoundHalfEven(300 + kScale * vx), RoundHalfEven(512 + kScale * vy)});
    }
    return p;
}

std::vector<float> ReadMap(const char* name) {
    std::ifstream in(std::string("data/weights/") + name + ".wgh", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str();
    std::vector<float> out(s.size() / 8, 0.0f);
    size_t pos = 0;
    for (float& v : out) NextFloat(s, pos, v);
    return out;
}

float Lerp(float a, float b, float f) { return float((1.0 - double(f)) * a + double(f) * b); }

struct Extent {
    float max = -10000, min = 10000;
    size_t imax = 0, imin = 0;
    void Add(float v, size_t k) {
        if (v > max) { max = v; imax = k; }
        if (v < min) { min = v; imin = k; }
    }
};

class Identity : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(asset.Load("data/models/head.dae"));
        photos = ReadPhotos();
        ASSERT_EQ(photos.front.size(), 27u);
        ASSERT_EQ(photos.profile.size(), 14u);
        for (const char* n : kWeightNames) maps.push_back(ReadMap(n));
    }
    TXMLDocument doc;
    TColladaAsset asset{&doc};
    Photos photos;
    std::vector<std::vector<float>> maps;
};

TEST_F(Identity, ReconstructingTheGenericHeadFromItsOwnPhotosMovesItLittle) {
    std::vector<float> pos = asset.geometries.geometries[0]->positions;
    const std::vector<float> original = pos;
    auto& f = photos.front;
    auto& p = photos.profile;
    auto w = [&](int slot, size_t k) { return maps[slot][k / 3]; };
    // Measurement.
    int fhw = std::abs(f[25].x - f[26].x), fhh = std::abs(f[23].y - f[24].y);
    int phd = std::abs(p[10].x - p[11].x), phh = std::abs(p[13].y - p[12].y);
    float maxX = -10000, minX = 10000, maxY = -10000, minY = 10000, maxZ = -10000, chinZ = 10000;
    size_t tip = 0;
    Extent mx, mz, nx, nz, lx, lz, rx, rz, ey, ez;
    for (size_t k = 0; k < pos.size(); ++k) {
        float c = pos[k];
        if (k % 3 == 0) {
            maxX = std::max(maxX, c); minX = std::min(minX, c);
            if (w(0, k) > 0) tip = k;
            if (w(9, k) > 0) mx.Add(c, k);
            if (w(7, k) > 0) nx.Add(c, k);
            if (w(3, k) > 0) lx.Add(c, k);
            if (w(5, k) > 0) rx.Add(c, k);
        } else if (k % 3 == 1) {
            maxY = std::max(maxY, c); minY = std::min(minY, c);
            if (w(11, k) > 0) ey.Add(c, k);
        } else {
            maxZ = std::max(maxZ, c);
            if (w(1, k) > 0) chinZ = c;
            if (w(9, k) > 0) mz.Add(c, k);
            if (w(7, k) > 0) nz.Add(c, k);
            if (w(3, k) > 0) lz.Add(c, k);
            if (w(5, k) > 0) rz.Add(c, k);
            if (w(11, k) > 0) ez.Add(c, k);
        }
    }
    float mw = maxX - minX, mh = maxZ - chinZ, md = maxY - minY;
    float t = float(double(mw) * fhh / fhw / mh);
    float u = float(double(phd) * mh * t / phh / md);
    float v = float(double(mw) / fhw);
    float wf = float(double(std::abs(f[1].y - f[16].y)) / std::abs(p[1].y - p[3].y));
    EXPECT_NEAR(t, 1.0, 0.01);
    EXPECT_NEAR(u, 1.0, 0.01);
    EXPECT_NEAR(wf, 1.0, 0.02);
    // Deformation.
    int noseLength = std::abs(int(pos[tip - 1] - pos[nz.imax]));
    ASSERT_GE(noseLength, 1);
    float depth = float(double(std::abs(p[3].x - p[4].x)) * v * wf / noseLength);
    EXPECT_NEAR(depth, 1.0, 0.05) << "the nose stretch of its own photos";
    for (size_t k = 1; k < pos.size(); k += 3) pos[k] = Lerp(pos[k], float(-1.246 + (pos[k] + 1.246) * depth), w(6, k));
    float tx = pos[tip], ty = pos[tip + 1], tz = pos[tip + 2];
    for (size_t k = 0; k < pos.size(); k += 3) {
        pos[k] = pos[k] - tx;
        pos[k + 1] = u * pos[k + 1];
        pos[k + 1] = pos[k + 1] + (-ty) * u;
        pos[k + 2] = t * pos[k + 2];
        pos[k + 2] = pos[k + 2] + (-tz) * t;
    }
    struct A { float x, y, z; };
    auto anchor = [&](double x, double y, double z) { return A{float(x - tx), float(u * y - ty), float(t * z - tz)}; };
    A mouthA = anchor(0, -0.894, -1.521), leA = anchor(-1.023, -0.732, 0.502), reA = anchor(1.252, -0.732, 0.502);
    A lrA = anchor(-2.622, 2.764, 0.656), rrA = anchor(2.675, 2.764, 0.656);
    auto span = [&](const Extent& e) { return pos[e.imax] - pos[e.imin]; };
    float noseX = float(std::abs(f[17].x - f[18].x) * double(v) / span(nx));
    float noseZ = float(double(v) * std::abs(f[19].y - f[20].y) / span(nz));
    float mouthX = float(std::abs(f[12].x - f[13].x) * double(v) / span(mx));
    float mouthZ = float(double(v) * std::abs(f[14].y - f[15].y) / span(mz));
    float earZ = float(std::abs(p[8].y - p[9].y) * double(v) * wf / span(ez));
    int earDepth = std::abs(int(pos[ey.imax] - pos[ey.imin]));
    float earY = earDepth ? float(std::abs(p[6].x - p[7].x) * double(v) * wf / earDepth) : 1.0f;
    float leX = float(std::abs(f[2].x - f[3].x) * double(v) / span(lx));
    float leZ = float(double(v) * std::abs(f[4].y - f[5].y) / span(lz));
    float reX = float(std::abs(f[7].x - f[8].x) * double(v) / span(rx));
    float reZ = float(double(v) * std::abs(f[9].y - f[10].y) / span(rz));
    for (float s : {noseX, noseZ, mouthX, mouthZ, earZ, earY, leX, leZ, reX, reZ}) EXPECT_NEAR(s, 1.0, 0.06);
    auto target = [&](Pt P, Pt Q, A a) {
        return A{float(v * double(P.x - f[16].x)) - a.x, float(double(v) * (Q.x - p[3].x) * wf) - a.y,
                 float(double(v) * ((P.y - f[16].y) * -1.0)) - a.z};
    };
    A dm = target(f[11], p[2], mouthA), dl = target(f[21], p[5], lrA), dr = target(f[22], p[5], rrA);
    A dle = target(f[1], p[1], leA), dre = target(f[6], p[1], reA);
    for (A d : {dm, dl, dr, dle, dre}) EXPECT_LT(std::hypot(d.x, d.y, d.z), 0.06) << "a feature displaced";
    auto scaleAbout = [](float c, float a, float s) { return float(a + (double(c) - a) * s); };
    for (size_t k = 0; k < pos.size(); ++k) {
        float& c = pos[k];
        float ws[6] = {w(6, k), w(2, k), w(4, k), w(8, k), w(10, k), w(12, k)};
        if (k % 3 == 0) {
            c = Lerp(c, float(c * double(noseX)), ws[0]);
            c = Lerp(c, scaleAbout(c, leA.x, leX), ws[1]); c = Lerp(c, c + dle.x, ws[1]);
            c = Lerp(c, scaleAbout(c, reA.x, reX), ws[2]); c = Lerp(c, c + dre.x, ws[2]);
            c = Lerp(c, scaleAbout(c, mouthA.x, mouthX), ws[3]); c = Lerp(c, c + dm.x, ws[3]);
            c = Lerp(c, c + dl.x, ws[4]); c = Lerp(c, c + dr.x, ws[5]);
        } else if (k % 3 == 1) {
            c = Lerp(c, c + dle.y, ws[1]); c = Lerp(c, c + dre.y, ws[2]); c = Lerp(c, c + dm.y, ws[3]);
            c = Lerp(c, scaleAbout(c, lrA.y, earY), ws[4]); c = Lerp(c, c + dl.y, ws[4]);
            c = Lerp(c, scaleAbout(c, rrA.y, earY), ws[5]); c = Lerp(c, c + dr.y, ws[5]);
        } else {
            c = Lerp(c, float(c * double(noseZ)), ws[0]);
            c = Lerp(c, scaleAbout(c, leA.z, leZ), ws[1]); c = Lerp(c, c + dle.z, ws[1]);
            c = Lerp(c, scaleAbout(c, reA.z, reZ), ws[2]); c = Lerp(c, c + dre.z, ws[2]);
            c = Lerp(c, scaleAbout(c, mouthA.z, mouthZ), ws[3]); c = Lerp(c, c + dm.z, ws[3]);
            c = Lerp(c, scaleAbout(c, lrA.z, earZ), ws[4]); c = Lerp(c, c + dl.z, ws[4]);
            c = Lerp(c, scaleAbout(c, rrA.z, earZ), ws[5]); c = Lerp(c, c + dr.z, ws[5]);
        }
    }
    double worst = 0;
    size_t worstAt = 0;
    for (size_t k = 0; k < pos.size(); k += 3) {
        float x = pos[k] - (-tx), y = pos[k + 1] - (-ty) * u, z = pos[k + 2] - (-tz) * t;
        double d = std::hypot(x - original[k], y - original[k + 1], z - original[k + 2]);
        if (d > worst) { worst = d; worstAt = k / 3; }
    }
    EXPECT_LT(worst, 0.08) << "corner " << worstAt << " moved furthest";
    std::printf("identity: t %.4f u %.4f w %.4f nose depth %.4f, largest move %.4f units\n", t, u, wf, depth, worst);
}

TEST_F(Identity, TheGlobalTextureFitOfItsOwnPhotosKeepsTheLayoutsScale) {
    auto& f = photos.front;
    auto& p = photos.profile;
    // Atlas of the texture builder (equal face heights: no photo is scaled).
    int H = std::abs(f[23].y - f[24].y), W = std::abs(f[25].x - f[26].x), E = std::abs(f[2].x - f[8].x);
    int P = std::abs(p[11].x - p[1].x);
    ASSERT_EQ(H, std::abs(p[13].y - p[12].y));
    int O = RoundHalfEven(W * 0.09), M = RoundHalfEven(H * 0.15), Q = P - O;
    int Wa = 2 * M + 2 * Q + E, Ha = 2 * M + H;
    int Ws = f[26].x - f[25].x, Hs = f[23].y - f[24].y;
    const auto& uv = asset.geometries.geometries[0]->texCoords;
    float maxU = 0, minU = 1, maxV = 0, minV = 1;
    for (size_t k = 0; k < uv.size(); ++k) {
        if (maps[14][k / 2] <= 0) continue;
        if (k % 2 == 0) { maxU = std::max(maxU, uv[k]); minU = std::min(minU, uv[k]); }
        else { maxV = std::max(maxV, uv[k]); minV = std::min(minV, uv[k]); }
    }
    double su = (double(Ws) / Wa) / (maxU - minU) * 1.15, sv = (double(Hs) / Ha) / (maxV - minV);
    EXPECT_NEAR(su, 1.0, 0.01);
    EXPECT_NEAR(sv, 1.0, 0.01);
    // The photo's nose tip lands near the reference nose tip: the shift of the fit is small.
    double nu = double(f[16].x - f[2].x + Q + M) / Wa, nv = 1.0 - double(f[16].y - f[24].y + M) / Ha;
    EXPECT_LT(std::hypot(nu - 0.5151004, nv - 0.42300156), 0.04);
    std::printf("global fit: scale %.4f %.4f, shift %.4f %.4f (face u %.4f..%.4f v %.4f..%.4f, Wa %d Ha %d Ws %d)\n", su, sv, nu - 0.5151004, nv - 0.42300156, minU, maxU, minV, maxV, Wa, Ha, Ws);
}
}  // namespace

namespace {
// The texture builder's whole fit (global shift and scale, then the disc moves of eyes, nose,
// mouth and ears, then the clamp) run on photos of the generic head: every feature of the layout
// must end where those photos have it in the atlas.
TEST_F(Identity, TheTextureFitOfItsOwnPhotosPutsEveryFeatureOnThePhotos) {
    auto& f = photos.front;
    auto& p = photos.profile;
    int H = std::abs(f[23].y - f[24].y), W = std::abs(f[25].x - f[26].x), E = std::abs(f[2].x - f[8].x);
    int P = std::abs(p[11].x - p[1].x);
    int O = RoundHalfEven(W * 0.09), M = RoundHalfEven(H * 0.15), Q = P - O;
    const double Wa = 2 * M + 2 * Q + E, Ha = 2 * M + H;
    const double Ws = f[26].x - f[25].x, Hs = f[23].y - f[24].y;
    struct V2 { double u, v; };
    auto frontUv = [&](Pt q) { return V2{(q.x - f[2].x + Q + M) / Wa, 1.0 - (q.y - f[24].y + M) / Ha}; };
    auto leftUv = [&](Pt q) { return V2{(p[11].x + M - q.x) / Wa, 1.0 - (q.y - p[12].y + M) / Ha}; };
    auto rightUv = [&](Pt q) { return V2{(q.x + Wa - M - p[11].x) / Wa, 1.0 - (q.y - p[12].y + M) / Ha}; };
    std::vector<float> uv = asset.geometries.geometries[0]->texCoords;
    auto w = [&](int slot, size_t k) { return maps[slot][k / 2]; };
    // Extents with their indices, before the fit.
    const int slots[7] = {14, 3, 5, 7, 9, 11, 13};
    struct Ext { float maxU = 0, minU = 1, maxV = 0, minV = 1; size_t iMaxU = 0, iMinU = 0, iMaxV = 0, iMinV = 0; };
    Ext ext[7];
    for (size_t k = 0; k < uv.size(); ++k)
        for (int r = 0; r < 7; ++r) {
            if (w(slots[r], k) <= 0) continue;
            Ext& e = ext[r];
            if (k % 2 == 0) {
                if (uv[k] > e.maxU) { e.maxU = uv[k]; e.iMaxU = k; }
                if (uv[k] < e.minU) { e.minU = uv[k]; e.iMinU = k; }
            } else {
                if (uv[k] > e.maxV) { e.maxV = uv[k]; e.iMaxV = k; }
                if (uv[k] < e.minV) { e.minV = uv[k]; e.iMinV = k; }
            }
        }
    auto spans = [&](const Ext& e) { return V2{uv[e.iMaxU] - uv[e.iMinU], uv[e.iMaxV] - uv[e.iMinV]}; };
    const V2 ref0{0.5151004, 0.42300156};
    const V2 nose = frontUv(f[16]);
    const V2 offset{nose.u - ref0.u, nose.v - ref0.v};
    V2 fs = spans(ext[0]);
    const V2 scale{(Ws / Wa) / fs.u * 1.15, (Hs / Ha) / fs.v};
    for (size_t k = 0; k < uv.size(); ++k)
        uv[k] = k % 2 == 0 ? float((uv[k] + offset.u - nose.u) * scale.u + nose.u)
                           : float((uv[k] + offset.v - nose.v) * scale.v + nose.v);
    auto moved = [&](V2 r) { return V2{((r.u + offset.u) - nose.u) * scale.u + nose.u, ((r.v + offset.v) - nose.v) * scale.v + nose.v}; };
    const V2 R[12] = {ref0, {0.4429995, 0.5326073}, {0.5828313, 0.52675647}, {0.5113153, 0.30832553},
                      {0.46008787, 0.34982827}, {0.5643298, 0.30911008}, {0.20125, 0.5175644},
                      {0.1882756, 0.5692701}, {0.21176706, 0.44178376}, {0.8056777, 0.5175644},
                      {0.8114232, 0.5698673}, {0.7936245, 0.4435129}};
    V2 Rp[12];
    for (int i = 1; i < 12; ++i) Rp[i] = moved(R[i]);
    const V2 T[5] = {frontUv(f[1]), frontUv(f[6]), frontUv(f[11]), leftUv(p[5]), rightUv(p[5])};
    const V2 D[5] = {{T[0].u - Rp[1].u, T[0].v - Rp[1].v}, {T[1].u - Rp[2].u, T[1].v - Rp[2].v},
                     {T[2].u - Rp[3].u, T[2].v - Rp[3].v}, {T[3].u - Rp[6].u, T[3].v - Rp[6].v},
                     {T[4].u - Rp[9].u, T[4].v - Rp[9].v}};
    // Region scales from the spans after the global fit.
    auto regionScale = [&](int r, int pw, int ph) {
        V2 s = spans(ext[r]);
        return V2{(pw / Wa) / s.u, (ph / Ha) / s.v};
    };
    V2 sLeft = regionScale(1, f[3].x - f[2].x, f[5].y - f[4].y), sRight = regionScale(2, f[8].x - f[7].x, f[10].y - f[9].y);
    V2 sNose = regionScale(3, f[18].x - f[17].x, f[20].y - f[19].y), sMouth = regionScale(4, f[13].x - f[12].x, f[15].y - f[14].y);
    V2 sEarL{1, 1};
    if (spans(ext[5]).u > 0 && spans(ext[5]).v > 0) sEarL = regionScale(5, p[7].x - p[6].x, p[9].y - p[8].y);
    V2 sEarR = regionScale(6, p[7].x - p[6].x, p[9].y - p[8].y);
    const char* names[6] = {"left eye", "right eye", "nose", "mouth", "left ear", "right ear"};
    const V2 scales[6] = {sLeft, sRight, sNose, sMouth, sEarL, sEarR};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(scales[i].u, 1.0, 0.08) << names[i];
        EXPECT_NEAR(scales[i].v, 1.0, 0.08) << names[i];
    }
    auto falloff = [](double d) { return d < 0.045 ? 1.0 : d < 0.09 ? 2.0 * (1.0 - d / 0.09) : 0.0; };
    auto dist = [](V2 a, double u, double v) { return std::hypot(a.u - u, a.v - v); };
    double w1 = 0, w2 = 0, w3 = 0, w4 = 0, w5 = 0, w6 = 0;
    for (size_t k = 0; k < uv.size(); ++k) {
        const bool even = k % 2 == 0;
        if (even) {
            double u = uv[k], v = uv[k + 1];
            w1 = falloff(dist(Rp[1], u, v));
            w2 = falloff(dist(Rp[2], u, v));
            w3 = falloff(dist(ref0, u, v));
            w4 = falloff(std::min({dist(Rp[3], u, v), dist(Rp[4], u, v), dist(Rp[5], u, v)}));
            w5 = falloff(std::min({dist(Rp[6], u, v), dist(Rp[7], u, v), dist(Rp[8], u, v)}));
            w6 = falloff(std::min({dist(Rp[9], u, v), dist(Rp[10], u, v), dist(Rp[11], u, v)}));
        }
        w2 *= 0.7;
        w1 *= 0.8;
        w3 *= 0.4;
        auto pick = [&](V2 a) { return even ? a.u : a.v; };
        double c = uv[k];
        auto lerp = [&](double target, double wt) { c = (1 - wt) * c + wt * target; };
        lerp(c + pick(D[0]), w1); lerp((c - pick(T[0])) * pick(sLeft) + pick(T[0]), w1);
        lerp(c + pick(D[1]), w2); lerp((c - pick(T[1])) * pick(sRight) + pick(T[1]), w2);
        lerp(even ? c + offset.u : c + offset.v + 0.02, w3); lerp((c - pick(nose)) * pick(sNose) + pick(nose), w3);
        lerp(c + pick(D[2]), w4); lerp((c - pick(T[2])) * pick(sMouth) + pick(T[2]), w4);
        lerp(c + pick(D[3]), w5); lerp((c - pick(T[3])) * pick(sEarL) + pick(T[3]), w5);
        lerp(c + pick(D[4]), w6); lerp((c - pick(T[4])) * pick(sEarR) + pick(T[4]), w6);
        uv[k] = float(even ? std::clamp(c, 0.0, 1.0) : std::clamp(c, 0.01, 1.0));
    }
    // Where the features ended: the middle of each rim, and the nose tip.
    auto middle = [&](int slot) {
        double lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};
        for (size_t k = 0; k < uv.size(); ++k)
            if (w(slot, k) > 0) {
                lo[k % 2] = std::min<double>(lo[k % 2], uv[k]);
                hi[k % 2] = std::max<double>(hi[k % 2], uv[k]);
            }
        return V2{0.5 * (lo[0] + hi[0]), 0.5 * (lo[1] + hi[1])};
    };
    size_t tip = 0;
    for (size_t v = 0; v < maps[0].size(); ++v)
        if (maps[0][v] > 0) tip = v;
    struct Case { const char* what; V2 got, want; };
    const Case cases[] = {{"nose tip", {uv[2 * tip], uv[2 * tip + 1]}, nose}, {"left eye", middle(3), T[0]},
                          {"right eye", middle(5), T[1]}, {"mouth", middle(9), T[2]},
                          {"left ear", middle(11), T[3]}, {"right ear", middle(13), T[4]}};
    double worst = 0;
    for (const Case& c : cases) {
        double d = std::hypot(c.got.u - c.want.u, c.got.v - c.want.v);
        EXPECT_LT(d, 0.012) << c.what << " ends at " << c.got.u << " " << c.got.v << ", the photos have it at "
                            << c.want.u << " " << c.want.v;
        worst = std::max(worst, d);
    }
    for (int i = 0; i < 6; ++i) std::printf("  %s scale %.3f %.3f\n", names[i], scales[i].u, scales[i].v);
    double scaleOff = 0;
    for (const V2& s : scales) scaleOff = std::max({scaleOff, std::abs(s.u - 1), std::abs(s.v - 1)});
    std::printf("texture fit of its own photos: features within %.4f of the photos, region scales within %.3f of 1\n",
                worst, scaleOff);
}
}  // namespace
