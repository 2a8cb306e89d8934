// Photos of the generic head itself must give the generic head back. These tests take orthographic
// front and side photos of it from the feature points the tool wrote, run the measurement and the
// deformation of the reconstruction and the global texture fit on them exactly as the program does,
// and check that the head hardly moves and that the fit keeps the layout's scale.
#include <gtest/gtest.h>

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
