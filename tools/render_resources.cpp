// Draws Tarnwick's pictures from nothing and writes them in the formats the program embeds:
//   picture.ppm   the 180 x 135 ray-traced scene (make_resources.sh turns it into picture.jpg and
//                 that JPEG, decoded, into picture.bmp)
//   tarnwick.ico  16, 32 and 48 pixel icons, each in 256 colours and in 32-bit colour with alpha
//   hand.cur      a 32 x 32, 16-colour pointing hand cursor with its hot spot on the fingertip
// Usage: render_resources OUTPUT_DIRECTORY
// Everything is deterministic (fixed-seed sampling), so running it again gives the same files.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Small vector maths
// ---------------------------------------------------------------------------------------------

struct Vec {
    double x = 0, y = 0, z = 0;
};

Vec operator+(Vec a, Vec b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator-(Vec a, Vec b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec operator*(Vec a, double s)
{
    return {a.x * s, a.y * s, a.z * s};
}
Vec operator*(Vec a, Vec b)
{
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}
double Dot(Vec a, Vec b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec Cross(Vec a, Vec b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Length(Vec a)
{
    return std::sqrt(Dot(a, a));
}
Vec Normalize(Vec a)
{
    return a * (1.0 / Length(a));
}
Vec Mix(Vec a, Vec b, double t)
{
    return a * (1.0 - t) + b * t;
}
Vec Reflect(Vec d, Vec n)
{
    return d - n * (2.0 * Dot(d, n));
}

double Clamp01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}
double SmoothStep(double e0, double e1, double x)
{
    const double t = Clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0 - 2.0 * t);
}

// A tiny deterministic generator (xorshift64*), so the output never depends on the C library.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    double Next()
    {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return static_cast<double>((state_ * 0x2545F4914F6CDD1Dull) >> 11) * (1.0 / 9007199254740992.0);
    }

private:
    uint64_t state_;
};

// ---------------------------------------------------------------------------------------------
// Procedural noise for the clouds and the floor
// ---------------------------------------------------------------------------------------------

double Hash2(int x, int y)
{
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return static_cast<double>(h & 0xFFFFFFu) / 16777215.0;
}

double ValueNoise(double x, double y)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const double a = Hash2(ix, iy), b = Hash2(ix + 1, iy);
    const double c = Hash2(ix, iy + 1), d = Hash2(ix + 1, iy + 1);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

double Fbm(double x, double y, int octaves)
{
    double sum = 0, amplitude = 0.5, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * ValueNoise(x, y);
        norm += amplitude;
        // Rotate a little between octaves to hide the grid.
        const double nx = 1.6 * x + 1.2 * y + 17.3, ny = -1.2 * x + 1.6 * y + 5.1;
        x = nx;
        y = ny;
        amplitude *= 0.5;
    }
    return sum / norm;
}

// ---------------------------------------------------------------------------------------------
// The scene: a cloudy sky, a dark red tiled floor, a dark stand and a glass sphere on it
// ---------------------------------------------------------------------------------------------

struct Scene {
    Vec sunDir = Normalize({-0.55, 0.62, -0.56});
    Vec sphereCentre{0.0, 1.27, 0.0};
    double sphereRadius = 0.62;
    Vec glassAbsorption{0.05, 0.03, 0.02};  // per unit of path inside the glass
    bool floorVisible = true;               // false: primary rays that miss the objects are transparent
    bool floorInReflections = true;         // false: the glass sees sky above and plain ground below
    Vec plainGround{0.54, 0.63, 0.76};      // what rays below the horizon see without a floor
    double glint = 0.0;                     // strength of a broad extra highlight around the sun
};

const Vec kSunColour = {1.45, 1.32, 1.12};

Vec Sky(const Scene& scene, Vec d)
{
    const Vec sunDir = scene.sunDir;
    const Vec horizon{0.60, 0.70, 0.84};
    const Vec zenith{0.07, 0.20, 0.55};
    if (d.y <= 0.0)
        return Mix(horizon, scene.plainGround, SmoothStep(0.0, 0.6, -d.y));
    Vec colour = Mix(horizon, zenith, std::pow(d.y, 0.45));

    // Clouds on a flat layer high above the ground.
    const double t = 1.0 / (d.y + 0.03);
    const double px = d.x * t * 0.45 + 3.7, pz = d.z * t * 0.45 - 1.3;
    const double n = Fbm(px, pz, 6);
    double cover = SmoothStep(0.40, 0.62, n) * SmoothStep(0.0, 0.06, d.y);
    const double lit = Clamp01(0.55 + 1.6 * (n - Fbm(px + sunDir.x * 0.25, pz + sunDir.z * 0.25, 6)));
    const Vec cloud = Mix(Vec{0.52, 0.55, 0.62}, Vec{1.05, 1.03, 1.0}, lit);
    colour = Mix(colour, cloud, cover * 0.95);

    // The sun and a soft glow around it.
    const double s = std::max(0.0, Dot(d, sunDir));
    colour = colour + Vec{1.0, 0.85, 0.6} * (0.25 * std::pow(s, 12.0)) +
             kSunColour * (28.0 * std::pow(s, 2200.0) + scene.glint * std::pow(s, 40.0));
    return colour;
}

enum class Material { None, Floor, Stand, Glass };

struct Hit {
    double t = 1e30;
    Vec normal;
    Material material = Material::None;
};

void HitSphere(Vec o, Vec d, Vec centre, double radius, Hit& hit)
{
    const Vec oc = o - centre;
    const double b = Dot(oc, d);
    const double c = Dot(oc, oc) - radius * radius;
    const double disc = b * b - c;
    if (disc < 0)
        return;
    const double root = std::sqrt(disc);
    for (double t : {-b - root, -b + root}) {
        if (t > 1e-5 && t < hit.t) {
            hit.t = t;
            hit.normal = Normalize(o + d * t - centre);
            hit.material = Material::Glass;
            return;
        }
    }
}

// A solid upright cylinder on the y axis from y0 to y1.
void HitCylinder(Vec o, Vec d, double radius, double y0, double y1, Hit& hit)
{
    const double a = d.x * d.x + d.z * d.z;
    if (a > 1e-12) {
        const double b = o.x * d.x + o.z * d.z;
        const double c = o.x * o.x + o.z * o.z - radius * radius;
        const double disc = b * b - a * c;
        if (disc >= 0) {
            const double root = std::sqrt(disc);
            for (double t : {(-b - root) / a, (-b + root) / a}) {
                const double y = o.y + d.y * t;
                if (t > 1e-5 && t < hit.t && y >= y0 && y <= y1) {
                    hit.t = t;
                    hit.normal = Normalize({o.x + d.x * t, 0.0, o.z + d.z * t});
                    hit.material = Material::Stand;
                    break;
                }
            }
        }
    }
    if (std::abs(d.y) > 1e-12) {
        for (double capY : {y0, y1}) {
            const double t = (capY - o.y) / d.y;
            const Vec p = o + d * t;
            if (t > 1e-5 && t < hit.t && p.x * p.x + p.z * p.z <= radius * radius) {
                hit.t = t;
                hit.normal = {0.0, capY == y1 ? 1.0 : -1.0, 0.0};
                hit.material = Material::Stand;
            }
        }
    }
}

Hit Intersect(const Scene& scene, Vec o, Vec d, bool withFloor)
{
    Hit hit;
    HitSphere(o, d, scene.sphereCentre, scene.sphereRadius, hit);
    // The stand: a wide plinth, a slim column and a dish the sphere sits in.
    HitCylinder(o, d, 0.56, 0.0, 0.09, hit);
    HitCylinder(o, d, 0.46, 0.09, 0.15, hit);
    HitCylinder(o, d, 0.22, 0.15, 0.60, hit);
    HitCylinder(o, d, 0.40, 0.60, 0.70, hit);
    if (withFloor && d.y < 0.0) {
        const double t = -o.y / d.y;
        if (t > 1e-5 && t < hit.t) {
            hit.t = t;
            hit.normal = {0.0, 1.0, 0.0};
            hit.material = Material::Floor;
        }
    }
    return hit;
}

// How much sunlight reaches p: the stand blocks it, the glass lets some through.
double SunVisibility(const Scene& scene, Vec p)
{
    const Hit h = Intersect(scene, p, scene.sunDir, false);
    if (h.material == Material::Stand)
        return 0.0;
    if (h.material == Material::Glass)
        return 0.45;
    return 1.0;
}

Vec CosineDirection(Vec n, Random& rng)
{
    const double r1 = rng.Next(), r2 = rng.Next();
    const double phi = 2.0 * 3.14159265358979 * r1;
    const double r = std::sqrt(r2);
    const Vec u = Normalize(Cross(std::abs(n.y) < 0.9 ? Vec{0, 1, 0} : Vec{1, 0, 0}, n));
    const Vec v = Cross(n, u);
    return Normalize(u * (r * std::cos(phi)) + v * (r * std::sin(phi)) + n * std::sqrt(1.0 - r2));
}

double Schlick(double cosine, double r0)
{
    return r0 + (1.0 - r0) * std::pow(1.0 - cosine, 5.0);
}

Vec Trace(const Scene& scene, Vec o, Vec d, int depth, Random& rng, bool* missed = nullptr);

// Light arriving at a matte surface point: sun with shadow plus sky light with occlusion.
Vec DiffuseLight(const Scene& scene, Vec p, Vec n, Random& rng)
{
    const double sun = std::max(0.0, Dot(n, scene.sunDir)) * SunVisibility(scene, p + n * 1e-4);
    const Vec dir = CosineDirection(n, rng);
    const Hit h = Intersect(scene, p + n * 1e-4, dir, false);
    const double open = h.material == Material::None ? 1.0 : (h.material == Material::Glass ? 0.6 : 0.25);
    return kSunColour * sun + Vec{0.42, 0.48, 0.58} * open;
}

Vec Trace(const Scene& scene, Vec o, Vec d, int depth, Random& rng, bool* missed)
{
    const Hit h = Intersect(scene, o, d, depth == 0 ? scene.floorVisible : scene.floorInReflections);
    if (missed)
        *missed = h.material == Material::None;
    if (h.material == Material::None)
        return Sky(scene, d);
    const Vec p = o + d * h.t;

    if (h.material == Material::Floor) {
        // Polished dark red tiles with thin grout lines and a little variation from tile to tile.
        const double tx = p.x * 1.1 + 0.5, tz = p.z * 1.1 + 0.3;
        const double fx = tx - std::floor(tx), fz = tz - std::floor(tz);
        const double grout =
            std::min(SmoothStep(0.0, 0.035, std::min(fx, 1.0 - fx)), SmoothStep(0.0, 0.035, std::min(fz, 1.0 - fz)));
        const double tile = Hash2(static_cast<int>(std::floor(tx)), static_cast<int>(std::floor(tz)));
        const double stain = Fbm(p.x * 2.3, p.z * 2.3, 4);
        Vec albedo = Vec{0.08, 0.009, 0.008} * (0.75 + 0.35 * tile) * (0.8 + 0.4 * stain);
        albedo = Mix(Vec{0.05, 0.01, 0.01}, albedo, grout);
        Vec colour = albedo * DiffuseLight(scene, p, h.normal, rng);
        if (depth < 3) {
            const double f = 0.4 * Schlick(std::max(0.0, -d.y), 0.02) * grout;
            colour = Mix(colour, Trace(scene, p + h.normal * 1e-4, Reflect(d, h.normal), depth + 1, rng), f);
        }
        // Haze toward the horizon.
        const double fog = 1.0 - std::exp(-h.t * 0.02);
        return Mix(colour, Vec{0.26, 0.13, 0.15}, fog);
    }

    if (h.material == Material::Stand) {
        // Nearly black, slightly glossy.
        Vec colour = Vec{0.035, 0.032, 0.036} * DiffuseLight(scene, p, h.normal, rng);
        if (depth < 3) {
            const double f = Schlick(std::max(0.0, -Dot(d, h.normal)), 0.05);
            const Vec r = Normalize(Reflect(d, h.normal) + CosineDirection(h.normal, rng) * 0.12);
            colour = colour + Trace(scene, p + h.normal * 1e-4, r, depth + 1, rng) * f;
        }
        return colour;
    }

    // Glass: Fresnel-weighted reflection and refraction, absorption along the path inside.
    if (depth > 7)
        return Sky(scene, d) * 0.5;
    Vec n = h.normal;
    const bool entering = Dot(d, n) < 0.0;
    if (!entering)
        n = n * -1.0;
    const double eta = entering ? 1.0 / 1.5 : 1.5;
    const double cosi = -Dot(d, n);
    const double k = 1.0 - eta * eta * (1.0 - cosi * cosi);
    const Vec reflected = Trace(scene, p + n * 1e-4, Reflect(d, n), depth + 1, rng);
    Vec result;
    if (k < 0.0) {
        result = reflected;
    } else {
        const Vec refractDir = Normalize(d * eta + n * (eta * cosi - std::sqrt(k)));
        const double cosine = entering ? cosi : std::sqrt(k);
        const double f = Schlick(cosine, 0.04);
        const Vec refracted = Trace(scene, p - n * 1e-4, refractDir, depth + 1, rng);
        result = reflected * f + refracted * (1.0 - f);
    }
    if (!entering) {
        // We travelled h.t inside the glass to get here.
        const Vec a = scene.glassAbsorption * h.t;
        result = result * Vec{std::exp(-a.x), std::exp(-a.y), std::exp(-a.z)};
    }
    return result;
}

struct Camera {
    Vec position, forward, right, up;
    double tanHalf;

    Camera(Vec from, Vec at, double verticalFovDegrees)
    {
        position = from;
        forward = Normalize(at - from);
        right = Normalize(Cross(forward, {0, 1, 0}));
        up = Cross(right, forward);
        tanHalf = std::tan(verticalFovDegrees * 3.14159265358979 / 360.0);
    }

    // u, v in [-1, 1], v up; aspect = width / height.
    Vec Ray(double u, double v, double aspect) const
    {
        return Normalize(forward + right * (u * tanHalf * aspect) + up * (v * tanHalf));
    }
};

double ToneMap(double v)
{
    const double mapped = 1.0 - std::exp(-v * 1.15);
    return std::pow(Clamp01(mapped), 1.0 / 2.2);
}

uint8_t ToByte(double v)
{
    return static_cast<uint8_t>(std::lround(Clamp01(v) * 255.0));
}

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 0;
};

struct Image {
    int width = 0, height = 0;
    std::vector<Rgba> pixels;  // top-down rows
    Rgba& At(int x, int y)
    {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
    const Rgba& At(int x, int y) const
    {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

// Renders with grid-jittered supersampling. With transparentBackground, primary rays that miss
// every object add nothing, and the share of samples that hit becomes the alpha.
Image Render(const Scene& scene, const Camera& camera, int width, int height, int grid, bool transparentBackground,
             uint64_t seed)
{
    Image image{width, height, std::vector<Rgba>(static_cast<size_t>(width) * static_cast<size_t>(height))};
    Random rng(seed);
    const double aspect = static_cast<double>(width) / height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Vec sum;
            int hits = 0;
            for (int sy = 0; sy < grid; ++sy) {
                for (int sx = 0; sx < grid; ++sx) {
                    const double px = x + (sx + rng.Next()) / grid;
                    const double py = y + (sy + rng.Next()) / grid;
                    const double u = 2.0 * px / width - 1.0;
                    const double v = 1.0 - 2.0 * py / height;
                    bool missed = false;
                    const Vec c = Trace(scene, camera.position, camera.Ray(u, v, aspect), 0, rng, &missed);
                    if (transparentBackground && missed)
                        continue;
                    sum = sum + Vec{ToneMap(c.x), ToneMap(c.y), ToneMap(c.z)};
                    ++hits;
                }
            }
            Rgba& out = image.At(x, y);
            if (hits > 0) {
                const Vec c = sum * (1.0 / hits);
                out = {ToByte(c.x), ToByte(c.y), ToByte(c.z), ToByte(static_cast<double>(hits) / (grid * grid))};
            }
        }
    }
    return image;
}

// ---------------------------------------------------------------------------------------------
// Writing files
// ---------------------------------------------------------------------------------------------

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void WritePpm(const std::filesystem::path& path, const Image& image)
{
    const std::string header = "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (const Rgba& p : image.pixels)
        bytes.insert(bytes.end(), {p.r, p.g, p.b});
    WriteFile(path, bytes);
}

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

size_t RowBytes(int width, int bitsPerPixel)
{
    return ((static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel) + 31) / 32) * 4;
}

// One BMP-style icon/cursor image: header, palette, colour rows and AND mask rows, bottom-up.
// 'indices' holds palette indices for palette images; 'image' the colours for 32 bpp.
std::vector<uint8_t> EncodeDib(const Image& image, int bitsPerPixel, const std::vector<Rgba>& palette,
                               const std::vector<uint8_t>& indices)
{
    const int w = image.width, h = image.height;
    const size_t xorRow = RowBytes(w, bitsPerPixel), andRow = RowBytes(w, 1);
    std::vector<uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(w));
    Put32(out, static_cast<uint32_t>(2 * h));  // colour rows plus mask rows
    Put16(out, 1);
    Put16(out, static_cast<uint32_t>(bitsPerPixel));
    Put32(out, 0);  // BI_RGB
    Put32(out, static_cast<uint32_t>((xorRow + andRow) * static_cast<size_t>(h)));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, bitsPerPixel <= 8 ? static_cast<uint32_t>(palette.size()) : 0);
    Put32(out, 0);
    for (const Rgba& c : palette)
        out.insert(out.end(), {c.b, c.g, c.r, 0});
    for (int y = h - 1; y >= 0; --y) {
        std::vector<uint8_t> row(xorRow, 0);
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
            if (bitsPerPixel == 32) {
                // A fully transparent pixel has no colour: where alpha is ignored it is drawn by
                // the mask alone and must leave the screen as it is.
                const Rgba p = image.At(x, y).a == 0 ? Rgba{} : image.At(x, y);
                row[static_cast<size_t>(x) * 4 + 0] = p.b;
                row[static_cast<size_t>(x) * 4 + 1] = p.g;
                row[static_cast<size_t>(x) * 4 + 2] = p.r;
                row[static_cast<size_t>(x) * 4 + 3] = p.a;
            } else if (bitsPerPixel == 8) {
                row[static_cast<size_t>(x)] = indices[i];
            } else if (bitsPerPixel == 4) {
                row[static_cast<size_t>(x) / 2] |= static_cast<uint8_t>(indices[i] << (x % 2 == 0 ? 4 : 0));
            } else {
                throw std::logic_error("unsupported bit depth");
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    // The mask: palette images are transparent below half alpha (their colour there is black).
    // A 32-bit image is transparent only where alpha is 0, so that systems that ignore alpha
    // (98, ME, 2000) draw its soft edge in colour rather than mixing that colour into the
    // screen's (a halo).
    const int opaqueFrom = bitsPerPixel == 32 ? 1 : 128;
    for (int y = h - 1; y >= 0; --y) {
        std::vector<uint8_t> row(andRow, 0);
        for (int x = 0; x < w; ++x) {
            if (image.At(x, y).a < opaqueFrom)
                row[static_cast<size_t>(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

struct DirectoryImage {
    int width, height;
    int colourCount;          // palette size, 0 for 256 or more
    uint16_t field4, field6;  // planes and bit count for icons, hot spot x and y for cursors
    std::vector<uint8_t> dib;
};

std::vector<uint8_t> EncodeDirectory(uint16_t type, const std::vector<DirectoryImage>& images)
{
    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, type);
    Put16(out, static_cast<uint32_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (const DirectoryImage& image : images) {
        out.push_back(static_cast<uint8_t>(image.width));
        out.push_back(static_cast<uint8_t>(image.height));
        out.push_back(static_cast<uint8_t>(image.colourCount));
        out.push_back(0);
        Put16(out, image.field4);
        Put16(out, image.field6);
        Put32(out, static_cast<uint32_t>(image.dib.size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(image.dib.size());
    }
    for (const DirectoryImage& image : images)
        out.insert(out.end(), image.dib.begin(), image.dib.end());
    return out;
}

// ---------------------------------------------------------------------------------------------
// Median-cut palette for the 256-colour icons
// ---------------------------------------------------------------------------------------------

struct Box {
    std::vector<std::pair<std::array<int, 3>, int>> colours;  // colour, pixel count
};

std::vector<Rgba> MedianCut(const std::map<std::array<int, 3>, int>& histogram, size_t maxColours)
{
    std::vector<Box> boxes(1);
    for (const auto& entry : histogram)
        boxes[0].colours.push_back(entry);
    if (boxes[0].colours.empty())
        return {};
    while (boxes.size() < maxColours) {
        // Split the box with the widest channel range.
        int best = -1, bestRange = 0, bestChannel = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].colours.size() < 2)
                continue;
            for (int ch = 0; ch < 3; ++ch) {
                int lo = 255, hi = 0;
                for (const auto& [c, n] : boxes[i].colours) {
                    lo = std::min(lo, c[static_cast<size_t>(ch)]);
                    hi = std::max(hi, c[static_cast<size_t>(ch)]);
                }
                if (hi - lo > bestRange) {
                    bestRange = hi - lo;
                    best = static_cast<int>(i);
                    bestChannel = ch;
                }
            }
        }
        if (best < 0)
            break;
        auto& colours = boxes[static_cast<size_t>(best)].colours;
        const auto ch = static_cast<size_t>(bestChannel);
        std::sort(colours.begin(), colours.end(),
                  [ch](const auto& a, const auto& b) { return a.first[ch] < b.first[ch]; });
        long total = 0;
        for (const auto& entry : colours)
            total += entry.second;
        long running = 0;
        size_t cut = 1;
        for (size_t i = 0; i + 1 < colours.size(); ++i) {
            running += colours[i].second;
            cut = i + 1;
            if (running * 2 >= total)
                break;
        }
        Box upper;
        upper.colours.assign(colours.begin() + static_cast<long>(cut), colours.end());
        colours.resize(cut);
        boxes.push_back(std::move(upper));
    }
    std::vector<Rgba> palette;
    for (const Box& box : boxes) {
        double r = 0, g = 0, b = 0, n = 0;
        for (const auto& [c, count] : box.colours) {
            r += c[0] * count;
            g += c[1] * count;
            b += c[2] * count;
            n += count;
        }
        palette.push_back({ToByte(r / n / 255.0), ToByte(g / n / 255.0), ToByte(b / n / 255.0), 255});
    }
    return palette;
}

uint8_t Nearest(const std::vector<Rgba>& palette, const Rgba& c, size_t first)
{
    size_t best = first;
    long bestDistance = -1;
    for (size_t i = first; i < palette.size(); ++i) {
        const long dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
        const long distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return static_cast<uint8_t>(best);
}

DirectoryImage Icon256(const Image& image)
{
    std::map<std::array<int, 3>, int> histogram;
    for (const Rgba& p : image.pixels)
        if (p.a >= 128)
            ++histogram[{p.r, p.g, p.b}];
    // Entry 0 stays black for the transparent pixels; the image's own colours get the other 255.
    std::vector<Rgba> palette{{0, 0, 0, 255}};
    for (const Rgba& c : MedianCut(histogram, 255))
        palette.push_back(c);
    palette.resize(256, Rgba{0, 0, 0, 255});
    std::vector<uint8_t> indices;
    for (const Rgba& p : image.pixels)
        indices.push_back(p.a >= 128 ? Nearest(palette, p, 1) : 0);
    return {image.width, image.height, 0, 1, 8, EncodeDib(image, 8, palette, indices)};
}

DirectoryImage Icon32(const Image& image)
{
    return {image.width, image.height, 0, 1, 32, EncodeDib(image, 32, {}, {})};
}

// ---------------------------------------------------------------------------------------------
// The pictures
// ---------------------------------------------------------------------------------------------

Image RenderPicture()
{
    Scene scene;
    const Camera camera({0.35, 1.12, 4.6}, {0.0, 0.98, 0.0}, 33.0);
    return Render(scene, camera, 180, 135, 6, false, 20240501);
}

Image RenderIcon(int size)
{
    Scene scene;
    scene.floorVisible = false;
    scene.floorInReflections = false;
    scene.sunDir = Normalize({-0.5, 0.6, 0.62});  // from the front left, for a glint on the glass
    scene.glassAbsorption = {0.25, 3.2, 2.9};     // deep red glass
    scene.plainGround = {0.22, 0.20, 0.20};
    scene.glint = 6.0;
    const Camera camera({0.0, 2.0, 6.0}, {0.0, 0.92, 0.0}, 21.0);
    return Render(scene, camera, size, size, 8, true, 77u + static_cast<uint64_t>(size));
}

// The hand: K outline, W white, g light grey shading, L/B/b the blue cuff in three shades.
constexpr std::array<std::string_view, 32> kHandArt = {
    "................................", "...........KKKK.................", "..........KWWWWK................",
    "..........KWWWgK................", "..........KWWWgK................", "..........KWWWgK................",
    "..........KWWWgK................", "..........KWWWgK................", "..........KWWWgKKKK.............",
    "..........KWWWgKWWWKKKK.........", "..........KWWWgKWWgKWWWKKK......", "..........KWWWgKWWgKWWgKWWK.....",
    "......KKK.KWWWWKWWgKWWgKWgK.....", ".....KWWWKKWWWWKWWWKWWWKWgK.....", ".....KWWWWKWWWWWKWWWKWWKWgK.....",
    "......KWWWKWWWWWWWWWWWWWWgK.....", "......KWWWWKWWWWWWWWWWWWWgK.....", ".......KWWWWWWWWWWWWWWWWWgK.....",
    ".......KWWWWWWWWWWWWWWWWWgK.....", "........KWWWWWWWWWWWWWWWWgK.....", "........KWWWWWWWWWWWWWWWgK......",
    ".........KWWWWWWWWWWWWWWgK......", ".........KWWWWWWWWWWWWWWgK......", "..........KWWWWWWWWWWWWgK.......",
    ".........KKKKKKKKKKKKKKKKK......", ".........KLLLLLLLLLLLLLLLK......", ".........KBBBBBBBBBBBBBBBK......",
    ".........KBBBBBBBBBBBBBBBK......", ".........KbbbbbbbbbbbbbbbK......", ".........KKKKKKKKKKKKKKKKK......",
    "................................", "................................",
};
constexpr int kHotSpotX = 12, kHotSpotY = 1;

std::vector<uint8_t> MakeHandCursor()
{
    // Sixteen palette entries; the ones not used stay black.
    std::vector<Rgba> palette(16, Rgba{0, 0, 0, 255});
    const std::string_view keys = ".KWgLBb";
    palette[1] = {0, 0, 0, 255};
    palette[2] = {255, 255, 255, 255};
    palette[3] = {192, 192, 192, 255};
    palette[4] = {96, 156, 240, 255};
    palette[5] = {30, 90, 210, 255};
    palette[6] = {16, 48, 144, 255};

    Image image{32, 32, std::vector<Rgba>(32 * 32)};
    std::vector<uint8_t> indices;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const size_t key = keys.find(kHandArt[static_cast<size_t>(y)][static_cast<size_t>(x)]);
            if (key == std::string_view::npos)
                throw std::logic_error("unknown colour in the hand");
            indices.push_back(static_cast<uint8_t>(key));
            image.At(x, y) = key == 0 ? Rgba{0, 0, 0, 0} : palette[key];
        }
    }
    if (kHandArt[kHotSpotY][kHotSpotX] == '.')
        throw std::logic_error("the hot spot must be on the hand");
    return EncodeDirectory(2, {{32, 32, 16, kHotSpotX, kHotSpotY, EncodeDib(image, 4, palette, indices)}});
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: render_resources OUTPUT_DIRECTORY\n";
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);

        WritePpm(dir / "picture.ppm", RenderPicture());

        std::vector<DirectoryImage> icons;
        for (int size : {16, 32, 48}) {
            const Image image = RenderIcon(size);
            icons.push_back(Icon256(image));
            icons.push_back(Icon32(image));
        }
        WriteFile(dir / "tarnwick.ico", EncodeDirectory(1, icons));
        WriteFile(dir / "hand.cur", MakeHandCursor());
    } catch (const std::exception& e) {
        std::cerr << "render_resources: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
