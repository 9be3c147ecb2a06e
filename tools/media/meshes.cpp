// The demo's meshes: the glass cube, the convex inner object, the Zared logo and the pack's
// ring mesh.
#include "media.h"

#include <cmath>

namespace {
struct V3 {
  float x, y, z;
};
}  // namespace

static V3 sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
static V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
static float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
static V3 norm(V3 a) {
  const float l = std::sqrt(dot(a, a));
  return l > 0 ? V3{a.x / l, a.y / l, a.z / l} : V3{0, 0, 1};
}

// Makes a vertex from a position and a normal (and optional texture coordinates).
static Vertex vtx(V3 p, V3 n, float s = 0, float t = 0) { return {s, t, n.x, n.y, n.z, p.x, p.y, p.z}; }

// Appends a triangle, turned if needed so that it winds counter-clockwise seen from `out`.
static void tri(std::vector<Vertex> &m, Vertex a, Vertex b, Vertex c, V3 out) {
  const V3 pa{a.x, a.y, a.z}, pb{b.x, b.y, b.z}, pc{c.x, c.y, c.z};
  if (dot(cross(sub(pb, pa), sub(pc, pa)), out) < 0) std::swap(b, c);
  m.push_back(a);
  m.push_back(b);
  m.push_back(c);
}

// Appends the quad a b c d as the triangles a b c and a c d, each turned to face `out`.
static void quad(std::vector<Vertex> &m, Vertex a, Vertex b, Vertex c, Vertex d, V3 out) {
  tri(m, a, b, c, out);
  tri(m, a, c, d, out);
}

// The cube from -1 to 1: six faces, each with the whole texture, wound outwards.
std::vector<Vertex> meshCube() {
  std::vector<Vertex> m;
  for (int axis = 0; axis < 3; axis++)
    for (int sign = -1; sign <= 1; sign += 2) {
      V3 n{0, 0, 0};
      (axis == 0 ? n.x : axis == 1 ? n.y : n.z) = float(sign);
      // Two in-plane directions of the face, chosen so that s runs left to right seen from outside.
      V3 u = axis == 0 ? V3{0, 0, -float(sign)} : axis == 1 ? V3{1, 0, 0} : V3{float(sign), 0, 0};
      V3 v = axis == 1 ? V3{0, 0, -float(sign)} : V3{0, 1, 0};
      auto corner = [&](float a, float b) {
        return vtx({n.x + a * u.x + b * v.x, n.y + a * u.y + b * v.y, n.z + a * u.z + b * v.z}, n, (a + 1) / 2, (b + 1) / 2);
      };
      quad(m, corner(-1, -1), corner(1, -1), corner(1, 1), corner(-1, 1), n);
    }
  return m;
}

// Signed power, the superellipsoid's building block.
static float spow(float v, float e) { return std::copysign(std::pow(std::fabs(v), e), v); }

// The inner object: a superellipsoid between a rounded cube and a gem (convex, since both
// exponents are below 2), with analytic normals, 48 x 32 patches.
std::vector<Vertex> meshThing() {
  const int NU = 48, NV = 32;
  const float e1 = 0.55f, e2 = 1.35f, a = 0.74f, b = 0.74f, c = 0.85f;
  auto point = [&](int iu, int iv) {
    const float u = -3.14159265f + 6.28318531f * float(iu % NU) / NU;
    const float w = -1.57079633f + 3.14159265f * float(iv) / NV;
    const float cu = std::cos(u), su = std::sin(u), cw = std::cos(w), sw = std::sin(w);
    const V3 p{a * spow(cw, e1) * spow(cu, e2), c * spow(sw, e1), b * spow(cw, e1) * spow(su, e2)};
    V3 n{spow(cw, 2 - e1) * spow(cu, 2 - e2) / a, spow(sw, 2 - e1) / c, spow(cw, 2 - e1) * spow(su, 2 - e2) / b};
    if (iv == 0) n = {0, -1, 0};
    if (iv == NV) n = {0, 1, 0};
    return vtx(p, norm(n));
  };
  std::vector<Vertex> m;
  for (int iv = 0; iv < NV; iv++)
    for (int iu = 0; iu < NU; iu++) {
      const Vertex p00 = point(iu, iv), p10 = point(iu + 1, iv), p01 = point(iu, iv + 1), p11 = point(iu + 1, iv + 1);
      const V3 centre{(p00.x + p11.x) / 2, (p00.y + p11.y) / 2, (p00.z + p11.z) / 2};
      if (iv > 0) tri(m, p00, p10, p11, centre);
      if (iv < NV - 1) tri(m, p00, p11, p01, centre);
    }
  return m;
}

// The z component of (b - a) x (c - a): positive when a, b, c turn counter-clockwise.
static float crossz(V3 a, V3 b, V3 c) { return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x); }

// True when the corner ib between ia and ic is an ear of the remaining polygon: convex, with no
// other remaining corner inside its triangle.
static bool isEar(const std::vector<V3> &poly, const std::vector<int> &idx, int ia, int ib, int ic) {
  const V3 A = poly[size_t(ia)], B = poly[size_t(ib)], Cc = poly[size_t(ic)];
  if (crossz(A, B, Cc) <= 1e-6f) return false;
  for (int j : idx) {
    const V3 P = poly[size_t(j)];
    if (j != ia && j != ib && j != ic && crossz(A, B, P) >= 0 && crossz(B, Cc, P) >= 0 && crossz(Cc, A, P) >= 0) return false;
  }
  return true;
}

// Triangulates a simple counter-clockwise polygon by ear clipping into index triples.
static std::vector<int> earClip(const std::vector<V3> &poly) {
  std::vector<int> idx(poly.size()), out;
  for (size_t i = 0; i < poly.size(); i++) idx[i] = int(i);
  while (idx.size() > 3) {
    bool clipped = false;
    for (size_t i = 0; i < idx.size(); i++) {
      const int ia = idx[(i + idx.size() - 1) % idx.size()], ib = idx[i], ic = idx[(i + 1) % idx.size()];
      if (!isEar(poly, idx, ia, ib, ic)) continue;
      out.insert(out.end(), {ia, ib, ic});
      idx.erase(idx.begin() + long(i));
      clipped = true;
      break;
    }
    if (!clipped) break;
  }
  if (idx.size() == 3) out.insert(out.end(), {idx[0], idx[1], idx[2]});
  return out;
}

// Moves each edge of a counter-clockwise polygon inwards by d and returns the new corners.
static std::vector<V3> inset(const std::vector<V3> &poly, float d) {
  const size_t n = poly.size();
  std::vector<V3> out(n);
  for (size_t i = 0; i < n; i++) {
    const V3 p0 = poly[(i + n - 1) % n], p1 = poly[i], p2 = poly[(i + 1) % n];
    const V3 e0 = norm(sub(p1, p0)), e1 = norm(sub(p2, p1));
    const V3 n0{-e0.y, e0.x, 0}, n1{-e1.y, e1.x, 0};  // inward normals of a CCW polygon
    const V3 bis = norm({n0.x + n1.x, n0.y + n1.y, 0});
    const float k = d / std::max(0.2f, dot(bis, n0));
    out[i] = {p1.x + bis.x * k, p1.y + bis.y * k, p1.z};
  }
  return out;
}

// The logo's three layers, drawn in this order: back faces, sides, then the front.
namespace {
struct LogoParts {
  std::vector<Vertex> back, sides, front;
};
}  // namespace

// The logo slab's back and front planes; the ring's radii, its rise and its steps.
constexpr float kLogoBack = -0.08f, kLogoFront = 0.08f;
constexpr float kRingInner = 1.6f, kRingOuter = 1.95f, kRingRise = 0.16f;
constexpr int kRingAround = 96, kRingAcross = 8;

// The letter Z of the logo: a flat back, straight sides, and a domed face raised on a bevel.
static LogoParts logoLetter() {
  LogoParts z;
  const float zb = kLogoBack, zf = kLogoFront, rise = 0.12f, bevel = 0.12f;
  // The Z, counter-clockwise.
  const float s = 1.02f / 1.6f;
  const float zpts[10][2] = {{-1.6f, -1.6f}, {1.6f, -1.6f}, {1.6f, -1.0f}, {-0.55f, -1.0f}, {1.6f, 1.0f},
                             {1.6f, 1.6f},   {-1.6f, 1.6f}, {-1.6f, 1.0f}, {0.55f, 1.0f},   {-1.6f, -1.0f}};
  std::vector<V3> outer;
  for (auto &q : zpts) outer.push_back({q[0] * s, q[1] * s, 0});
  const std::vector<V3> inner = inset(outer, bevel);
  const std::vector<int> tris = earClip(outer), trisIn = earClip(inner);
  auto flat = [&](int k) { return vtx({outer[size_t(k)].x, outer[size_t(k)].y, zb}, {0, 0, -1}); };
  for (size_t i = 0; i + 2 < tris.size(); i += 3) tri(z.back, flat(tris[i]), flat(tris[i + 1]), flat(tris[i + 2]), {0, 0, -1});
  // The face carries the normals of a shallow dome, so that the sphere map sweeps across it
  // instead of painting it in one colour.
  auto domed = [&](V3 p) { return vtx({p.x, p.y, zf + rise}, norm({p.x * 0.3f, p.y * 0.3f, 1})); };
  for (size_t i = 0; i + 2 < trisIn.size(); i += 3)
    tri(z.front, domed(inner[size_t(trisIn[i])]), domed(inner[size_t(trisIn[i + 1])]), domed(inner[size_t(trisIn[i + 2])]), {0, 0, 1});
  for (size_t i = 0; i < outer.size(); i++) {
    const size_t j = (i + 1) % outer.size();
    const V3 e = norm(sub(outer[j], outer[i]));
    const V3 out{e.y, -e.x, 0};
    const V3 a0{outer[i].x, outer[i].y, zb}, b0{outer[j].x, outer[j].y, zb};
    const V3 a1{outer[i].x, outer[i].y, zf}, b1{outer[j].x, outer[j].y, zf};
    quad(z.sides, vtx(a0, out), vtx(b0, out), vtx(b1, out), vtx(a1, out), out);
    // The chamfer from the outer edge up to the inset face.
    const V3 bn = norm({out.x * rise, out.y * rise, bevel});
    const V3 c0{inner[i].x, inner[i].y, zf + rise}, c1{inner[j].x, inner[j].y, zf + rise};
    quad(z.front, vtx(a1, bn), vtx(b1, bn), vtx(c1, bn), vtx(c0, bn), bn);
  }
  return z;
}

// The point at radius r and height z in direction d.
static V3 ringAt(V3 d, float r, float z) { return V3{d.x * r, d.y * r, z}; }

// Step jj of the ring's half-round profile in direction d, with its normal.
static Vertex ringProfile(V3 d, int jj) {
  const float r0 = kRingInner, r1 = kRingOuter, h = kRingRise;
  const float q = float(jj) / kRingAcross, ang = 3.14159265f * q;
  const float r = r0 + (r1 - r0) * q, z = kLogoFront + h * std::sin(ang);
  // Slope of the profile: dz/dr = h * pi / (r1 - r0) * cos(ang).
  const float slope = h * 3.14159265f / (r1 - r0) * std::cos(ang);
  return vtx(ringAt(d, r, z), norm({-d.x * slope, -d.y * slope, 1}));
}

// The ring around the Z: a half-round profile from radius 1.6 to 1.95, 96 steps around, 8 across.
static LogoParts logoRing() {
  LogoParts ring;
  const float r0 = kRingInner, r1 = kRingOuter, zb = kLogoBack, zf = kLogoFront;
  const V3 down{0, 0, -1};
  for (int k = 0; k < kRingAround; k++) {
    const float a0 = 6.28318531f * k / kRingAround, a1 = 6.28318531f * (k + 1) / kRingAround;
    const V3 d0{std::cos(a0), std::sin(a0), 0}, d1{std::cos(a1), std::sin(a1), 0};
    quad(ring.back, vtx(ringAt(d0, r0, zb), down), vtx(ringAt(d1, r0, zb), down), vtx(ringAt(d1, r1, zb), down),
         vtx(ringAt(d0, r1, zb), down), down);
    for (int side = 0; side < 2; side++) {
      const float r = side ? r1 : r0, sg = side ? 1.0f : -1.0f;
      const V3 n0{d0.x * sg, d0.y * sg, 0}, n1{d1.x * sg, d1.y * sg, 0};
      quad(ring.sides, vtx(ringAt(d0, r, zb), n0), vtx(ringAt(d1, r, zb), n1), vtx(ringAt(d1, r, zf), n1),
           vtx(ringAt(d0, r, zf), n0), n0);
    }
    for (int j = 0; j < kRingAcross; j++) {
      const Vertex q00 = ringProfile(d0, j), q01 = ringProfile(d0, j + 1), q10 = ringProfile(d1, j), q11 = ringProfile(d1, j + 1);
      quad(ring.front, q00, q01, q11, q10, {0, 0, 1});
    }
  }
  return ring;
}

// The logo: a bevelled letter Z inside a rounded ring, a flat slab facing +z within 2 units of
// its centre. Back faces and sides come first and the front last, since the logo is drawn
// without depth testing.
std::vector<Vertex> meshLogo() {
  const LogoParts z = logoLetter(), ring = logoRing();
  std::vector<Vertex> m;
  for (auto *part : {&ring.back, &z.back, &ring.sides, &z.sides, &ring.front, &z.front}) m.insert(m.end(), part->begin(), part->end());
  return m;
}

// The pack's own mesh: a ring torus of 35 x 7 quads, 490 triangles, positions only.
std::vector<Vertex> meshPackTorus() {
  const int NA = 35, NB = 7;
  const float R = 1.0f, r = 0.35f;
  auto at = [&](int i, int j) {
    const float a = 6.28318531f * float(i % NA) / NA, b = 6.28318531f * float(j % NB) / NB;
    return V3{(R + r * std::cos(b)) * std::cos(a), r * std::sin(b), (R + r * std::cos(b)) * std::sin(a)};
  };
  std::vector<Vertex> m;
  for (int i = 0; i < NA; i++)
    for (int j = 0; j < NB; j++) {
      const V3 p00 = at(i, j), p10 = at(i + 1, j), p01 = at(i, j + 1), p11 = at(i + 1, j + 1);
      const float a = 6.28318531f * (i + 0.5f) / NA, b = 6.28318531f * (j + 0.5f) / NB;
      const V3 out{std::cos(b) * std::cos(a), std::sin(b), std::cos(b) * std::sin(a)};
      quad(m, vtx(p00, out), vtx(p10, out), vtx(p11, out), vtx(p01, out), out);
    }
  return m;
}
