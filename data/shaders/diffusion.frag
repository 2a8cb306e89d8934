#version 120
// First blur direction of the light map: a horizontal Gaussian, one texel being 1 / width.
uniform sampler2D LightMap;
uniform float width;

const float spread = 1.5;  // texels between taps

void main()
{
    vec2 uv = gl_TexCoord[0].st;
    vec2 stride = vec2(spread / max(width, 1.0), 0.0);
    vec3 sum = texture2D(LightMap, uv).rgb * 0.2270270270;
    sum += (texture2D(LightMap, uv + stride).rgb + texture2D(LightMap, uv - stride).rgb) * 0.1945945946;
    sum += (texture2D(LightMap, uv + 2.0 * stride).rgb + texture2D(LightMap, uv - 2.0 * stride).rgb) * 0.1216216216;
    sum += (texture2D(LightMap, uv + 3.0 * stride).rgb + texture2D(LightMap, uv - 3.0 * stride).rgb) * 0.0540540541;
    sum += (texture2D(LightMap, uv + 4.0 * stride).rgb + texture2D(LightMap, uv - 4.0 * stride).rgb) * 0.0162162162;
    gl_FragColor = vec4(sum, 1.0);
}
