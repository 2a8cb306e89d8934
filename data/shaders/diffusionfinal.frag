#version 120
// Second blur direction of the light map (vertical, one texel being 1 / height), multiplied by the
// base colour on unit 0, plus the specular highlight, which is not diffused.
uniform sampler2D Base;
uniform sampler2D LightMap;
uniform int UseTexture;
uniform float height;
varying vec3 eyePosition;
varying vec3 eyeNormal;

const float spread = 1.5;

void main()
{
    vec2 uv = gl_TexCoord[0].st;
    vec2 stride = vec2(0.0, spread / max(height, 1.0));
    vec3 light = texture2D(LightMap, uv).rgb * 0.2270270270;
    light += (texture2D(LightMap, uv + stride).rgb + texture2D(LightMap, uv - stride).rgb) * 0.1945945946;
    light += (texture2D(LightMap, uv + 2.0 * stride).rgb + texture2D(LightMap, uv - 2.0 * stride).rgb) * 0.1216216216;
    light += (texture2D(LightMap, uv + 3.0 * stride).rgb + texture2D(LightMap, uv - 3.0 * stride).rgb) * 0.0540540541;
    light += (texture2D(LightMap, uv + 4.0 * stride).rgb + texture2D(LightMap, uv - 4.0 * stride).rgb) * 0.0162162162;

    vec3 n = normalize(eyeNormal);
    vec3 e = normalize(-eyePosition);
    if (dot(n, e) < 0.0)
        n = -n;
    vec4 lightPos = gl_LightSource[0].position;
    vec3 l = normalize(lightPos.xyz - eyePosition * lightPos.w);
    float specular = dot(n, l) > 0.0 ? pow(max(dot(reflect(-l, n), e), 0.0), gl_FrontMaterial.shininess) : 0.0;

    vec4 base = UseTexture != 0 ? texture2D(Base, uv) : vec4(1.0);
    gl_FragColor = vec4(base.rgb * light + gl_LightSource[0].specular.rgb * specular, 1.0);
}
