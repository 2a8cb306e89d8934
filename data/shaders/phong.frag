#version 120
// Phong lighting from light 0 and the current material, like the fixed pipeline but per pixel.
// With UseTexture the base colour comes from the texture on unit 0, otherwise from the material.
uniform sampler2D Base;
uniform int UseTexture;
varying vec3 eyePosition;
varying vec3 eyeNormal;

void main()
{
    vec3 n = normalize(eyeNormal);
    vec3 e = normalize(-eyePosition);
    // Meshes are drawn without culling: light the side that faces the viewer.
    if (dot(n, e) < 0.0)
        n = -n;
    vec4 lightPos = gl_LightSource[0].position;
    vec3 l = normalize(lightPos.xyz - eyePosition * lightPos.w);
    float diffuse = max(dot(n, l), 0.0);
    float specular = diffuse > 0.0 ? pow(max(dot(reflect(-l, n), e), 0.0), gl_FrontMaterial.shininess) : 0.0;

    vec4 base = UseTexture != 0 ? texture2D(Base, gl_TexCoord[0].st) : vec4(1.0);
    vec3 light = gl_FrontLightModelProduct.sceneColor.rgb + gl_FrontLightProduct[0].ambient.rgb +
                 gl_FrontLightProduct[0].diffuse.rgb * diffuse;
    gl_FragColor = vec4(base.rgb * light + gl_LightSource[0].specular.rgb * specular, 1.0);
}
